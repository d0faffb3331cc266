#include "vexotool_commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "VexoDLL.h"
#include "binary_file.h"
#include "board_key.h"
#include "board_key_command.h"
#include "board_map.h"
#include "config_space.h"
#include "diagnose.h"
#include "memtest.h"
#include "pci_config.h"
#include "pci_scan.h"
#include "platform.h"
#include "set_up_registers.h"
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

// Where a base came from: the key's value, or the card's register and why.
std::string BaseSource(int field) {
    const char* valueName = vexo::board_key::kValueNames[field];
    const KeyValueReading reading = ReadAsTheLibraryDoes(valueName);
    if (reading.state == KeyValueState::Used) return std::string("registry ") + valueName;
    return std::string("card register ") + kKeyFields[field].bar + " (" +
           ReasonForCardBase(reading.state) + ")";
}

// The first port of `bytes` ports from `port`, ports wrapping at 16 bits as the library's do,
// that is a PCI configuration port (0xCF8-0xCFF); -1 when none is.
int ConfigPortAmong(std::uint32_t port, std::uint32_t bytes) {
    for (std::uint32_t i = 0; i < bytes; ++i) {
        const std::uint32_t at = (port + i) & 0xFFFF;
        if (at >= vexo::pci::kConfigAddressPort && at <= vexo::pci::kConfigDataPort + 3u) {
            return static_cast<int>(at);
        }
    }
    return -1;
}

// I/O bases the library accepted although they cannot be right: a base no 16-bit port number
// holds, and a base that sends a set-up write of cVexoOpen into the PCI configuration ports,
// where it changes the configuration address or writes some device's configuration register.
void WarnAboutIoBases(std::FILE* err, const DeviceInfo& info) {
    const std::uint32_t bases[2] = {info.io1Base, info.io2Base};
    const char* names[2] = {"I/O range 1", "I/O range 2"};
    for (int range = 0; range < 2; ++range) {
        if (bases[range] == 0xFFFFFFFFu) {
            std::fprintf(err,
                         "vexotool: warning: the %s base is 0xFFFFFFFF, all ones: what a register "
                         "reads that nothing answers, not a port\n",
                         names[range]);
        } else if (bases[range] > 0xFFFF) {
            std::fprintf(err,
                         "vexotool: warning: the %s base 0x%08X is no port number (ports end at "
                         "0xFFFF); the library uses its low 16 bits\n",
                         names[range], static_cast<unsigned>(bases[range]));
        }
    }
    for (const vexo::set_up::SetUpWrite& write : vexo::set_up::kWrites) {
        const int range = write.range == vexo::set_up::IoRange::First ? 0 : 1;
        const std::uint32_t port = (bases[range] + write.offset) & 0xFFFF;
        const int hit = ConfigPortAmong(port, vexo::set_up::kWriteBytes);
        if (hit < 0) continue;
        std::fprintf(err,
                     "vexotool: warning: with the %s base at 0x%04X, the set-up write at offset "
                     "0x%02X goes to port 0x%04X, into the PCI configuration ports 0xCF8-0xCFF\n",
                     names[range], static_cast<unsigned>(bases[range] & 0xFFFF),
                     static_cast<unsigned>(write.offset), static_cast<unsigned>(port));
    }
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
    const std::uint32_t bases[vexo::board_key::kValueCount] = {info.intMemBase, info.extMemBase,
                                                               info.io1Base, info.io2Base};
    std::fprintf(out, "  base addresses\n");
    for (int field = 0; field < vexo::board_key::kValueCount; ++field) {
        std::fprintf(out, "    %-15s  0x%08X  from %s\n", kKeyFields[field].what,
                     static_cast<unsigned>(bases[field]), BaseSource(field).c_str());
    }
    WarnAboutIoBases(session.err, info);
    return kExitSuccess;
}

// --- config -------------------------------------------------------------------------------

// Read through the library's own scan and configuration accesses, so that the card shown is the
// one the library configured.
int Config(Session& session) {
    if (!OpenCard(session)) return kExitFailed;
    vexo::pci::CardLocation card = {};
    if (!vexo::pci::ScanForBoard(&card)) {
        std::fprintf(session.err, "vexotool: config: no card answers on the PCI bus\n");
        return kExitFailed;
    }
    std::uint8_t space[kConfigSpaceSize];
    for (std::uint32_t reg = 0; reg < kConfigSpaceSize; reg += 4) {
        const std::uint32_t word = vexo::pci::ReadConfig(card, reg);
        for (unsigned b = 0; b < 4; ++b) space[reg + b] = word >> (8 * b) & 0xFF;
    }
    PrintConfigSpace(session.out, card.bus, card.device, vexo::pci::kCardFunction, space);
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

// --- save, load ---------------------------------------------------------------------------

// The file is written only once the whole length has been read: a failed or stopped read leaves
// an existing file as it was.
int Save(Session& session, const Command& command) {
    if (!OpenCard(session)) return kExitFailed;
    std::vector<std::uint8_t> bytes;
    if (!ReadInto(session, "save", command, &bytes)) return kExitFailed;
    std::string error;
    if (!WriteWholeFile(command.file, bytes, &error)) {
        std::fprintf(session.err, "vexotool: save: %s\n", error.c_str());
        return kExitFailed;
    }
    std::fprintf(session.out, "save: %u bytes from 0x%08X to %s (%s elements)\n",
                 static_cast<unsigned>(bytes.size()), static_cast<unsigned>(command.address),
                 command.file.c_str(), WidthName(command.width));
    return kExitSuccess;
}

int Load(Session& session, const Command& command) {
    if (!OpenCard(session)) return kExitFailed;
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadWholeFile(command.file, std::uint64_t{command.count} * command.width, &bytes,
                       &error)) {
        std::fprintf(session.err, "vexotool: load: %s; nothing was written\n", error.c_str());
        return kExitFailed;
    }
    Progress progress = StartProgress(session.err, "load", command.count, "elements");
    const TransferResult result = WriteElements(LibraryAccess(), command.address, bytes.data(),
                                                command.count, command.width, progress);
    EndProgress(progress);
    if (!Finished(session, "load", result, command.address, command.count, command.width)) {
        return kExitFailed;
    }
    std::fprintf(session.out, "load: %u bytes from %s to 0x%08X (%s elements)\n",
                 static_cast<unsigned>(bytes.size()), command.file.c_str(),
                 static_cast<unsigned>(command.address), WidthName(command.width));
    return kExitSuccess;
}

// Help, the version and the board configuration key do without the card.
bool NeedsCard(const Command& command) {
    return command.kind != CommandKind::Help && command.kind != CommandKind::Version &&
           command.kind != CommandKind::Key;
}

int WriteKey(const Command& command, std::FILE* out, std::FILE* err) {
    switch (command.keyAction) {
        case KeyAction::Set:
            return SetKeyValue(command.keyField, command.values[0], out, err);
        case KeyAction::Defaults:
            return WriteKeyDefaults(out, err);
        default:
            return ClearKey(out, err);
    }
}

int Key(Session& session, const Command& command) {
    if (command.keyAction == KeyAction::Show) return ShowKey(session.out);
    const int status = WriteKey(command, session.out, session.err);
    // The library reads the key when it opens the card: the commands after this one on the line
    // open it again, so that they work with the bases just written.
    if (session.open) {
        cVexoClose();
        session.open = false;
    }
    return status;
}

// Output that did not reach its file (a full disk, a closed pipe) fails the command: a dump cut
// short must not pass for the whole of it.
bool OutputWritten(Session& session) {
    errno = 0;
    if (std::fflush(session.out) == 0 && !std::ferror(session.out)) return true;
    const int error = errno;
    std::fprintf(session.err, "vexotool: cannot write the output: %s\n",
                 error != 0 ? std::strerror(error) : "write error");
    return false;
}

int RunCommand(Session& session, const Command& command) {
    switch (command.kind) {
        case CommandKind::Help:
            PrintHelp(session.out, command.helpTopic);
            return kExitSuccess;
        case CommandKind::Version:
            PrintVersion(session.out);
            return kExitSuccess;
        case CommandKind::Info:
            return Info(session);
        case CommandKind::Map:
            return Map(session);
        case CommandKind::Config:
            return Config(session);
        case CommandKind::Read:
            return Read(session, command);
        case CommandKind::Dump:
            return Dump(session, command);
        case CommandKind::Write:
            return Write(session, command, "write");
        case CommandKind::Fill:
            return Write(session, command, "fill");
        case CommandKind::Save:
            return Save(session, command);
        case CommandKind::Load:
            return Load(session, command);
        case CommandKind::Key:
            return Key(session, command);
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
    // A line that fails to open the card prints nothing on `out`, not even a first heading.
    if (std::any_of(line.commands.begin(), line.commands.end(), NeedsCard) && !OpenCard(session)) {
        return kExitFailed;
    }
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
        if (!OutputWritten(session)) status = kExitFailed;
    }
    if (session.open) cVexoClose();
    return status;
}

}  // namespace vexotool
