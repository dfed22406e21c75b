// The TARGET of a command: a serial port (COM3), a TCP endpoint of the scale
// (192.168.1.10:5001) or, natively, a serial device path (/dev/ttyUSB0).
// It is checked here, before anything is sent, and turned into the
// connection text the driver object takes.
#pragma once

#include <optional>
#include <string>

namespace pesolink::cli {

struct Target {
    enum class Kind { Serial, Tcp, DevicePath };
    Kind kind = Kind::Serial;
    std::string text;        // as written, for messages and output
    std::string connection;  // the driver's connection text (COMn, a.b.c.d:port)
    std::string devicePath;  // DevicePath: the device the port stands for
};

// COM followed by a port number 1 to 255 (any letter case; the connection
// text is COMn in capitals); four dotted groups 0 to 255, a colon and a port
// 1 to 65535; natively also a path that starts with "/". Anything else is
// not a target: nullopt.
std::optional<Target> ParseTarget(const std::string& text);

// Natively: makes the connection text of a device path name a port the
// serial module can open (a private folder with one link, named by the
// variable PESOLINK_COM_DIR, which the serial module reads). The folder goes
// when the object does; the port, once open, stays usable.
class DeviceAlias {
public:
    DeviceAlias() = default;
    ~DeviceAlias();
    DeviceAlias(const DeviceAlias&) = delete;
    DeviceAlias& operator=(const DeviceAlias&) = delete;

    // False (with a reason in error) when the folder cannot be made.
    bool Make(Target& target, std::string& error);
    void Remove();

private:
    std::string folder_, link_;
};

}  // namespace pesolink::cli
