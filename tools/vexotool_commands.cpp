#include "vexotool_commands.h"

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "VexoDLL.h"
#include "board_key.h"
#include "board_map.h"
#include "diagnose.h"
#include "memtest.h"
#include "platform.h"
#include "tool_args.h"
#include "transfer.h"

namespace vexotool {
namespace {

// One run of the tool: where it writes and whether the card is open.
struct Session {
    std::FILE* out;
    std::FILE* err;
    bool open = false;
};

bool OpenCard(Session& session) {
    if (session.open) return true;
    if (cVexoOpen() == 1) {
        session.open = true;
        return true;
    }
    const Diagnosis diagnosis = DiagnoseOpenFailure();
    std::fprintf(session.err, "vexotool: cannot open the card: %s\n", diagnosis.reason.c_str());
    if (!diagnosis.hint.empty()) std::fprintf(session.err, "  %s\n", diagnosis.hint.c_str());
    return false;
}

const char* WidthName(unsigned width) {
    return width == 1 ? "8-bit" : width == 2 ? "16-bit" : "32-bit";
}

// Reports a transfer that did not finish; true when it did.
bool Finished(Session& session, const char* what, const TransferResult& result,
              std::uint32_t address, std::uint32_t count, unsigned width) {
    if (result.status == TransferStatus::Done) return true;
    const std::uint32_t at = address + result.done * width;
    if (result.status == TransferStatus::Stopped) {
        std::fprintf(session.err,
                     "vexotool: %s stopped by Ctrl+C after %u of %u elements (next 0x%08X)\n", what,
                     result.done, count, at);
    } else {
        std::fprintf(session.err,
                     "vexotool: %s failed: the library refused the %s elements from 0x%08X "
                     "(%u of %u done)\n",
                     what, WidthName(width), at, result.done, count);
    }
    return false;
}

// --- info ---------------------------------------------------------------------------------

// One 32-bit value of the board configuration key, read the way the library reads it; false when
// the key or the value cannot be read.
bool ReadBoardKeyValue(const char* name, std::uint32_t* value) {
    namespace platform = vexo::platform;
    platform::RegistryKey key = 0;
    if (!platform::OpenMachineKey(vexo::board_key::kPath, &key)) return false;
    std::uint32_t data = 0;
    const bool read = platform::QueryValue(key, name, &data, sizeof data);
    platform::CloseKey(key);
    if (read) *value = data;
    return read;
}

std::string BaseSource(const char* valueName, const char* bar) {
    std::uint32_t value = 0;
    if (ReadBoardKeyValue(valueName, &value) && value != 0) {
        return std::string("registry ") + valueName;
    }
    return std::string("card register ") + bar + " (no registry value)";
}

int Info(Session& session) {
    if (!OpenCard(session)) return kExitFailed;
    DeviceInfo info = {};
    if (cVexoDeviceInfo(&info) != 1) {
        std::fprintf(session.err, "vexotool: info: the library reports no open card\n");
        return kExitFailed;
    }
    const unsigned pciConfig = static_cast<unsigned>(cVexoPciConfig());
    std::FILE* out = session.out;
    std::fprintf(out, "VexoLite card\n");
    std::fprintf(out, "  device id        0x%04X\n", static_cast<unsigned>(info.deviceId));
    std::fprintf(out, "  vendor id        0x%04X\n", static_cast<unsigned>(info.vendorId));
    std::fprintf(out, "  driver info      0x%08X\n", static_cast<unsigned>(info.driverInfo));
    std::fprintf(out, "  PCI config       0x%08X (first word of the driver's reply)\n", pciConfig);
    const struct {
        const char* name;
        std::uint32_t value;
        const char* valueName;
        const char* bar;
    } bases[] = {
        {"internal memory", info.intMemBase, vexo::board_key::kIntMemBase, "BAR1"},
        {"external memory", info.extMemBase, vexo::board_key::kExtMemBase, "BAR0"},
        {"I/O range 1", info.io1Base, vexo::board_key::kIo1Base, "BAR2"},
        {"I/O range 2", info.io2Base, vexo::board_key::kIo2Base, "BAR3"},
    };
    std::fprintf(out, "  base addresses\n");
    for (const auto& base : bases) {
        std::fprintf(out, "    %-15s  0x%08X  from %s\n", base.name,
                     static_cast<unsigned>(base.value),
                     BaseSource(base.valueName, base.bar).c_str());
    }
    return kExitSuccess;
}

// --- map ----------------------------------------------------------------------------------

int Map(Session& session) {
    if (!OpenCard(session)) return kExitFailed;
    DeviceInfo info = {};
    cVexoDeviceInfo(&info);
    std::FILE* out = session.out;
    std::fprintf(
        out, "Board address map (I/O range 1 at port 0x%04X, I/O range 2 at port 0x%04X)\n",
        static_cast<unsigned>(info.io1Base & 0xFFFF), static_cast<unsigned>(info.io2Base & 0xFFFF));
    std::fprintf(out, "  %-21s  %-23s  %s\n", "board addresses", "region", "reaches");
    for (const MapRegion& region : kMapRegions) {
        const std::uint32_t size = region.last - region.first + 1;
        char reaches[64];
        if (region.kind == RegionKind::IoRange1 || region.kind == RegionKind::IoRange2) {
            const std::uint32_t base =
                region.kind == RegionKind::IoRange1 ? info.io1Base : info.io2Base;
            const unsigned first = (base + region.offset) & 0xFFFF;
            std::snprintf(reaches, sizeof reaches, "ports 0x%04X-0x%04X", first,
                          (first + size - 1) & 0xFFFF);
        } else {
            const char* window =
                region.kind == RegionKind::InternalMemory ? "internal" : "external";
            std::snprintf(reaches, sizeof reaches, "%s window 0x%06X-0x%06X", window,
                          static_cast<unsigned>(region.offset),
                          static_cast<unsigned>(region.offset + size - 1));
        }
        std::fprintf(out, "  0x%08X-0x%08X  %-23s  %s\n", static_cast<unsigned>(region.first),
                     static_cast<unsigned>(region.last), region.name, reaches);
    }
    std::fprintf(out,
                 "Every other address leads nowhere: it reads as all ones and takes no writes.\n"
                 "Transfers start and run within 0x0-0x103FF or 0x08000000-0x08FFFFFF.\n");
    return kExitSuccess;
}

// --- read, dump, write, fill ---------------------------------------------------------------

bool ReadInto(Session& session, const char* what, const Command& command,
              std::vector<std::uint8_t>* bytes) {
    bytes->assign(std::size_t{command.count} * command.width, 0);
    Progress progress = StartProgress(session.err, what, command.count, "elements");
    const TransferResult result = ReadElements(LibraryAccess(), command.address, bytes->data(),
                                               command.count, command.width, progress);
    EndProgress(progress);
    return Finished(session, what, result, command.address, command.count, command.width);
}

std::uint32_t ElementAt(const std::vector<std::uint8_t>& bytes, std::size_t index, unsigned width) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i)
        value |= std::uint32_t{bytes[index * width + i]} << (8 * i);
    return value;
}

int Read(Session& session, const Command& command) {
    if (!OpenCard(session)) return kExitFailed;
    std::vector<std::uint8_t> bytes;
    if (!ReadInto(session, "read", command, &bytes)) return kExitFailed;
    const unsigned perLine = 16 / command.width;
    for (std::uint32_t i = 0; i < command.count; ++i) {
        if (i % perLine == 0) {
            std::fprintf(session.out, "%s%08X ", i == 0 ? "" : "\n",
                         static_cast<unsigned>(command.address + i * command.width));
        }
        std::fprintf(session.out, " %0*X", static_cast<int>(command.width * 2),
                     static_cast<unsigned>(ElementAt(bytes, i, command.width)));
    }
    std::fprintf(session.out, "\n");
    return kExitSuccess;
}

int Dump(Session& session, const Command& command) {
    if (!OpenCard(session)) return kExitFailed;
    std::vector<std::uint8_t> bytes;
    if (!ReadInto(session, "dump", command, &bytes)) return kExitFailed;
    for (std::uint32_t line = 0; line < command.count; line += 16) {
        std::string hex, text;
        char cell[4];
        for (std::uint32_t i = line; i < line + 16; ++i) {
            if (i < command.count) {
                std::snprintf(cell, sizeof cell, "%02X ", bytes[i]);
                hex += cell;
                text += std::isprint(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
            } else {
                hex += "   ";
            }
            if (i == line + 7) hex += ' ';
        }
        std::fprintf(session.out, "%08X  %s |%s|\n", static_cast<unsigned>(command.address + line),
                     hex.c_str(), text.c_str());
    }
    return kExitSuccess;
}

std::vector<std::uint8_t> PackElements(const std::vector<std::uint32_t>& values,
                                       std::uint32_t count, unsigned width) {
    std::vector<std::uint8_t> bytes(std::size_t{count} * width);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t value = values[values.size() == 1 ? 0 : i];
        for (unsigned b = 0; b < width; ++b) bytes[i * width + b] = value >> (8 * b) & 0xFF;
    }
    return bytes;
}

int Write(Session& session, const Command& command, const char* what) {
    if (!OpenCard(session)) return kExitFailed;
    const std::vector<std::uint8_t> bytes =
        PackElements(command.values, command.count, command.width);
    Progress progress = StartProgress(session.err, what, command.count, "elements");
    const TransferResult result = WriteElements(LibraryAccess(), command.address, bytes.data(),
                                                command.count, command.width, progress);
    EndProgress(progress);
    if (!Finished(session, what, result, command.address, command.count, command.width)) {
        return kExitFailed;
    }
    std::fprintf(session.out, "%s: %u %s element%s at 0x%08X", what, command.count,
                 WidthName(command.width), command.count == 1 ? "" : "s",
                 static_cast<unsigned>(command.address));
    if (command.kind == CommandKind::Fill) {
        std::fprintf(session.out, ", each 0x%0*X", static_cast<int>(command.width * 2),
                     static_cast<unsigned>(command.values[0]));
    }
    std::fprintf(session.out, "\n");
    return kExitSuccess;
}

int RunCommand(Session& session, const Command& command) {
    switch (command.kind) {
        case CommandKind::Help:
            PrintHelp(session.out, command.helpTopic);
            return kExitSuccess;
        case CommandKind::Info:
            return Info(session);
        case CommandKind::Map:
            return Map(session);
        case CommandKind::Read:
            return Read(session, command);
        case CommandKind::Dump:
            return Dump(session, command);
        case CommandKind::Write:
            return Write(session, command, "write");
        case CommandKind::Fill:
            return Write(session, command, "fill");
        case CommandKind::MemTest:
            if (!OpenCard(session)) return kExitFailed;
            return RunMemTest(command, LibraryAccess(), session.out, session.err);
    }
    return kExitUsage;
}

}  // namespace

int RunVexoTool(int argc, char** argv, std::FILE* out, std::FILE* err) {
    const CommandLine line = ParseCommandLine(argc, argv);
    if (!line.error.empty()) {
        std::fprintf(err, "vexotool: %s\n", line.error.c_str());
        return kExitUsage;
    }
    Session session{out, err};
    int status = kExitSuccess;
    for (std::size_t i = 0; i < line.commands.size() && status == kExitSuccess; ++i) {
        if (i > 0 && StopRequested()) {
            std::fprintf(err, "vexotool: stopped by Ctrl+C before '%s'\n",
                         line.commands[i].text.c_str());
            status = kExitFailed;
            break;
        }
        if (line.commands.size() > 1) {
            std::fprintf(out, "%s> vexotool %s\n", i == 0 ? "" : "\n",
                         line.commands[i].text.c_str());
        }
        status = RunCommand(session, line.commands[i]);
        std::fflush(out);
    }
    if (session.open) cVexoClose();
    return status;
}

}  // namespace vexotool
