// Internal to the POSIX backend: how every program the system starts is started.
#pragma once

#include <fcntl.h>
#include <spawn.h>

#include <cerrno>

namespace platform::posix {

// Started programs live on their own, as on Windows: a new session, so the
// starter's terminal signals do not reach them, standard handles on the null
// device and no other descriptor of the starter. A program holding the write
// end of its caller's pipe would keep the caller from ever reading to the end.
// `keepAs3`, when given, is the one descriptor the child gets, as 3.
class SpawnSettings {
public:
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};

    explicit SpawnSettings(int keepAs3 = -1) {
        haveActions_ = (failure_ = posix_spawn_file_actions_init(&actions)) == 0;
        if (haveActions_) haveAttributes_ = (failure_ = posix_spawnattr_init(&attributes)) == 0;
        const int flags[] = {O_RDONLY, O_WRONLY, O_WRONLY};
        for (int fd = 0; fd < 3 && failure_ == 0; ++fd)
            failure_ = posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", flags[fd], 0);
        int firstClosed = 3;
        if (keepAs3 >= 0 && failure_ == 0) {
            failure_ = posix_spawn_file_actions_adddup2(&actions, keepAs3, 3);
            firstClosed = 4;
        }
        if (failure_ == 0) failure_ = posix_spawn_file_actions_addclosefrom_np(&actions, firstClosed);
        if (failure_ == 0) failure_ = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    }
    ~SpawnSettings() {
        if (haveAttributes_) posix_spawnattr_destroy(&attributes);
        if (haveActions_) posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    bool ready() const {
        if (failure_ != 0) errno = failure_;
        return failure_ == 0;
    }

private:
    int failure_ = 0;
    bool haveActions_ = false;
    bool haveAttributes_ = false;
};

}  // namespace platform::posix
