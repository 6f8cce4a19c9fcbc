// Every record back to the values it has when the process starts, for tests
// that run many cases in one process: HudState and SharedConfig zero, the link
// state, the motion intent, an empty client table, no USB socket or camera
// address, no media request, no video counted. Waits for the command workers to finish first;
// no other thread may touch the records meanwhile.
#pragma once

void ResetRecords();
