#include "posix_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string sys_error(const std::string &what) { return what + ": " + std::strerror(errno); }

void write_all(int fd, const std::string &s) {
    for (size_t done = 0; done < s.size();) {
        ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno != EINTR)
            throw Error(sys_error("write"));
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
}

void write_file_atomic(const std::string &path, const std::string &text) {
    std::string tmp = path + ".tmp";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw Error(sys_error("open " + tmp));
    write_all(fd, text);
    close(fd);
    if (rename(tmp.c_str(), path.c_str()) != 0)
        throw Error(sys_error("rename " + tmp));
}

void make_dirs(const std::string &path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            throw Error(sys_error("mkdir " + part));
    }
}
