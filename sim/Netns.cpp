#include "Netns.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace CampusSim {

bool runInNetns(const std::string &netns, const std::function<void()> &fn, std::string *error)
{
    if (netns.empty()) {
        fn();
        return true;
    }
    const std::string path = netns.find('/') == std::string::npos ? "/run/netns/" + netns : netns;
    std::string failure;
    // setns() moves only the calling thread, so a throwaway thread keeps the rest of the process
    // where it was.
    std::thread worker([&] {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            failure = "cannot open " + path + ": " + std::strerror(errno);
            return;
        }
        if (::setns(fd, CLONE_NEWNET) != 0) {
            failure = "cannot join " + path + ": " + std::strerror(errno);
            ::close(fd);
            return;
        }
        ::close(fd);
        fn();
    });
    worker.join();
    if (!failure.empty() && error)
        *error = failure;
    return failure.empty();
}

} // namespace CampusSim
