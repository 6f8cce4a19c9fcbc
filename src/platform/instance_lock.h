// One copy of the daemon at a time: the first copy holds an exclusive lock on a
// file for as long as it lives.
#pragma once

// Takes the lock on the file at path (created when missing, mode 0600, the
// daemon's own: a file of another user is replaced). False when another copy
// holds it; a lock another user holds (squatting on a file an older version
// left readable) does not count: the file is replaced and the lock taken. The descriptor is close-on-exec, so no program the daemon
// runs can keep the lock after the daemon ends; a lock file that cannot be
// opened at all counts as taken by nobody (true), so a broken /run never keeps
// the box from starting.
bool TakeInstanceLock(const char* path);
