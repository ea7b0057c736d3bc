#pragma once
// Writing a whole buffer to a blocking descriptor (a file, standard error).

#include <cstddef>
#include <string_view>

// Writes all of `data`, resuming after EINTR. Returns 0, or the errno of the
// write that failed; `written`, when given, receives how many bytes went out.
int WriteAll(int fd, std::string_view data, size_t* written = nullptr);
