// What the process holds, read from /proc: open descriptors, threads and resident memory. The
// soak programs compare these before and after their rounds.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <fstream>
#include <thread>

namespace zelsoak {

inline size_t entriesIn(const char* directory) {
    size_t count = 0;
    if (DIR* dir = opendir(directory)) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

struct Resources {
    size_t fds = 0;
    size_t threads = 0;
    long rssKiB = 0;
};

inline Resources resources() {
    Resources now;
    now.fds = entriesIn("/proc/self/fd") - 1;  // less the one reading the directory
    now.threads = entriesIn("/proc/self/task");
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    now.rssKiB = resident * (sysconf(_SC_PAGESIZE) / 1024);
    return now;
}

// Threads that end (a released reader, a stopped watcher) leave /proc a moment later: waits up
// to two seconds for the counts to come down to `target`.
inline Resources settled(const Resources& target) {
    Resources now = resources();
    for (int i = 0; i < 200 && (now.threads > target.threads || now.fds > target.fds); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = resources();
    }
    return now;
}

}  // namespace zelsoak
