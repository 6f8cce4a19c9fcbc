// Every record back to the values it has when the process starts, for tests
// that run many cases in one process: HudState and SharedConfig zero, the link
// state, the motion intent, an empty client table, no USB socket or camera
// address, no media request. Only while no other thread touches the records.
#pragma once

void ResetRecords();
