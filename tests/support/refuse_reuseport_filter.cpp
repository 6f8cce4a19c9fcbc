// Runs a program with setsockopt(SO_ATTACH_REUSEPORT_CBPF) refused with
// ENOPROTOOPT, as qemu-user and kernels without the option refuse it, so the
// daemon's way without the filter can be tried on any machine:
//   refuse-reuseport-filter PROGRAM [ARGS...]
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: refuse-reuseport-filter PROGRAM [ARGS...]\n");
    return 2;
  }
  // The arguments' low halves: the machines this runs on are little-endian.
  constexpr unsigned kLevel = offsetof(seccomp_data, args[1]);
  constexpr unsigned kName = offsetof(seccomp_data, args[2]);
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_setsockopt, 0, 5),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kLevel),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SOL_SOCKET, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kName),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SO_ATTACH_REUSEPORT_CBPF, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOPROTOOPT),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    std::perror("refuse-reuseport-filter: seccomp");
    return 1;
  }
  execvp(argv[1], argv + 1);
  std::perror("refuse-reuseport-filter: exec");
  return 127;
}
