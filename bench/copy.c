/* The yardstick of bench/full-image: copies BYTES bytes of SOURCE to TARGET (created or
 * truncated) through one 1 MiB buffer with read() and write(), starting SOURCE over at its end. */

#define _FILE_OFFSET_BITS 64
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

enum { kBufferBytes = 1024 * 1024 };
static char s_buffer[kBufferBytes];

int main(int argc, char** argv) {
    if (argc != 4) {
        fputs("usage: copy SOURCE TARGET BYTES\n", stderr);
        return 64;
    }
    unsigned long long left = strtoull(argv[3], NULL, 10);
    const int source = open(argv[1], O_RDONLY);
    const int target = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (source < 0 || target < 0) {
        perror("copy: open");
        return 1;
    }
    while (left > 0) {
        const size_t want = left < kBufferBytes ? (size_t)left : kBufferBytes;
        const ssize_t got = read(source, s_buffer, want);
        if (got < 0) {
            perror("copy: read");
            return 1;
        }
        if (got == 0) {
            if (lseek(source, 0, SEEK_SET) != 0) return 1;
            continue;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t n = write(target, s_buffer + done, (size_t)(got - done));
            if (n <= 0) {
                perror("copy: write");
                return 1;
            }
            done += n;
        }
        left -= (unsigned long long)got;
    }
    if (close(target) != 0 || close(source) != 0) {
        perror("copy: close");
        return 1;
    }
    return 0;
}
