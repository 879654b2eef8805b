// Runs a command and prints the peak resident size, in KiB, of the largest of
// its processes (the command and the children it waited for), as the kernel
// counts it:  peak_rss COMMAND [ARG...]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: peak_rss COMMAND [ARG...]\n");
    return 2;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage = {};
  if (wait4(pid, &status, 0, &usage) < 0) return 1;
  std::printf("%ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
