/* For tests of a program as it runs: loaded into it with LD_PRELOAD, this makes every flush of a
 * folder fail with EIO, as a disk that fails under the file system would, and leaves every
 * other flush to the system. Nothing of it is in the program itself. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

int fsync(int fd) {
    static int (*system_fsync)(int);
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    if (!system_fsync) system_fsync = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    return system_fsync(fd);
}
