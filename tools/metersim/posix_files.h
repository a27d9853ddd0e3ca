// Errors of metersim's system calls, and the writes it makes to its files: whole, or atomically
// through a temporary file and a rename, and the directories they go in.
#pragma once

#include <stdexcept>
#include <string>

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// what, a colon and the text of errno.
std::string sys_error(const std::string &what);

// Writes all of s to fd, however many calls that takes.
void write_all(int fd, const std::string &s);

// Replaces the file at path with text, so that a reader sees the old file or the new one.
void write_file_atomic(const std::string &path, const std::string &text);

// Creates path and the directories above it that are missing.
void make_dirs(const std::string &path);
