// Pty pairs behind a ttyACM-style name, as a USB serial device appears and disappears.

#include "sim/pty_node.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace sim {

int OpenLinkedPty(const std::string& nodePath, std::string& slavePath) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return -1;
    char slaveName[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, slaveName, sizeof slaveName) != 0) {
        close(master);
        return -1;
    }
    // The line keeps the kernel's cooked defaults, as a fresh ttyACM node does: setting it
    // raw is the host's job, and IsRawLine tells whether it did.
    if (fcntl(master, F_SETFL, O_NONBLOCK) != 0 || symlink(slaveName, nodePath.c_str()) != 0) {
        close(master);
        return -1;
    }
    slavePath = slaveName;
    return master;
}

void CloseLinkedPty(int master, const std::string& nodePath, const std::string& slavePath) {
    char target[128] = {};
    const ssize_t length = readlink(nodePath.c_str(), target, sizeof target - 1);
    if (length > 0 && slavePath == std::string(target, static_cast<size_t>(length))) unlink(nodePath.c_str());
    if (master >= 0) close(master);
}

bool IsRawLine(int master) {
    termios settings{};
    if (tcgetattr(master, &settings) != 0) return false;
    return (settings.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)) == 0 &&
           (settings.c_iflag & (ISTRIP | INLCR | IGNCR | ICRNL | IXON)) == 0 && (settings.c_oflag & OPOST) == 0 &&
           (settings.c_cflag & CSIZE) == CS8;
}

}  // namespace sim
