// vexotool's command table and what each command does, run in order on one opening of the card.
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
#include "little_endian.h"
#include "memtest.h"
#include "pci_config.h"
#include "pci_scan.h"
#include "platform.h"
#include "set_up_registers.h"
#include "tool_args.h"
#include "transfer.h"

namespace vexotool {

// One run of the tool: where it writes and whether the card is open.
struct Session {
    std::FILE* out;
    std::FILE* err;
    bool open = false;
};

namespace {

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

int Info(Session& session, const Command&) {
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
int Config(Session& session, const Command&) {
    if (!OpenCard(session)) return kExitFailed;
    vexo::pci::CardLocation card = {};
    if (!vexo::pci::ScanForBoard(&card)) {
        std::fprintf(session.err, "vexotool: config: no card answers on the PCI bus\n");
        return kExitFailed;
    }
    std::uint8_t space[kConfigSpaceSize];
    for (std::uint32_t reg = 0; reg < kConfigSpaceSize; reg += 4) {
        const std::uint32_t word = vexo::pci::ReadConfig(card, reg);
        vexo::little_endian::Store32(space + reg, word);
    }
    PrintConfigSpace(session.out, card.bus, card.device, vexo::pci::kCardFunction, space);
    return kExitSuccess;
}

// --- map ----------------------------------------------------------------------------------

int Map(Session& session, const Command&) {
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
    return vexo::little_endian::Load(bytes.data() + index * width, width);
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
        vexo::little_endian::Store(bytes.data() + i * width, width, value);
    }
    return bytes;
}

// Write's values one to an element, or fill's one value in each.
int Store(Session& session, const Command& command, bool oneValue) {
    const char* what = command.row->name;
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
    if (oneValue) {
        std::fprintf(session.out, ", each 0x%0*X", static_cast<int>(command.width * 2),
                     static_cast<unsigned>(command.values[0]));
    }
    std::fprintf(session.out, "\n");
    return kExitSuccess;
}

int Write(Session& session, const Command& command) {
    return Store(session, command, false);
}

int Fill(Session& session, const Command& command) {
    return Store(session, command, true);
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

int MemTest(Session& session, const Command& command) {
    if (!OpenCard(session)) return kExitFailed;
    return RunMemTest(command, LibraryAccess(), session.out, session.err);
}

int Help(Session& session, const Command& command) {
    PrintHelp(session.out, command.helpTopic);
    return kExitSuccess;
}

int Version(Session& session, const Command&) {
    PrintVersion(session.out);
    return kExitSuccess;
}

// "0x01000000": a number as the help writes it, with at least `digits` hex digits.
std::string HelpHex(std::uint32_t value, int digits = 1) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

const char* ConfigDetails() {
    static const std::string text =
        "Finds the card on the PCI bus the way the library does and prints its " +
        std::to_string(kConfigSpaceSize) +
        " bytes of PCI\n"
        "configuration space: the header decoded (identity, command and status bits, revision,\n"
        "class code, header type, base address registers with their flag bits, interrupt line\n"
        "and pin), then every byte in hex, 16 a line.\n";
    return text.c_str();
}

const char* MemTestDetails() {
    static const std::string text =
        "Writes and verifies test patterns and says what failed where; the memory's contents are\n"
        "lost. Every test checks the data lines (walking ones and zeros) and the byte lanes\n"
        "(8- and 16-bit writes merged into one word) at the first word, then:\n"
        "  internal                 address-in-address over every word of the three blocks;\n"
        "  external                 address-in-address at the power-of-two offsets, one per\n"
        "                           address line, across the whole " +
        std::to_string(kExternalSize >> 20) +
        " MiB (quick);\n"
        "  --full                   address-in-address over every word (on a card, each\n"
        "                           external word costs about a hundred bus accesses);\n"
        "  --range ADDR LENGTH      every word of LENGTH bytes from ADDR only (both multiples\n"
        "                           of 4, inside one internal block or the external memory).\n";
    return text.c_str();
}

// The bit numbers `mask`'s lowest and highest set bits.
std::string BitRange(std::uint32_t mask) {
    int low = 0, high = 31;
    while ((mask >> low & 1) == 0) ++low;
    while ((mask >> high & 1) == 0) --high;
    return std::to_string(low) + "-" + std::to_string(high);
}

const char* KeyDetails() {
    using namespace vexo::board_key;
    const auto name = [](int field) { return std::string(kKeyFields[field].name); };
    static const std::string text =
        "Without arguments, prints the four values of the board configuration key and what\n"
        "cVexoOpen does with each: a non-zero value is programmed into the card's base address\n"
        "register, a missing value or 0 leaves the base the card's register holds. Needs no card.\n"
        "  set NAME VALUE   writes one value and leaves the others as they are. NAME is " +
        name(0) + ",\n                   " + name(1) + ", " + name(2) + " or " + name(3) +
        ". VALUE is aligned as the Control Panel applet\n"
        "                   aligns it: a memory base to a multiple of " +
        HelpHex(~kMemoryBaseMask + 1, 8) + ", an I/O base to\n                   a multiple of " +
        HelpHex(kIoBaseMask & (~kIoBaseMask + 1)) + " (bits " + BitRange(kIoBaseMask) +
        " only); 0 means 'from the card'.\n"
        "  defaults         writes the applet's four defaults: " +
        name(0) + " " + HelpHex(kDefaults[0], 8) + ", " + name(1) + "\n                   " +
        HelpHex(kDefaults[1], 8) + ", " + name(2) + " " + HelpHex(kDefaults[2]) + ", " + name(3) +
        " " + HelpHex(kDefaults[3]) +
        ".\n"
        "  clear            deletes the four values: every base comes from the card.\n"
        "The key is created as the applet creates it. Writing it needs the right to write\n"
        "under HKEY_LOCAL_MACHINE.\n";
    return text.c_str();
}

}  // namespace

// The element widths the transfer commands take, as their usage lines and help name them; what
// --width accepts is ParseWidth's.
#define VEXOTOOL_WIDTH_OPTION "[--width 8|16|32]"
#define VEXOTOOL_WIDTHS "8, 16 or 32 bits (default 8)"

// The tool's commands, in the overview's order. The overview, each command's help and its usage
// errors are made from here.
const std::vector<CommandRow>& CommandRows() {
    static const std::vector<CommandRow> rows = {
        {"info", "", true, "the card's identity and base addresses",
         "Opens the card and prints what the library reports: the PCI identity, the driver's\n"
         "information word, the first word of the driver's PCI configuration reply, and the four\n"
         "base addresses with where each came from (the registry or the card's own register).\n"
         "Warns about an I/O base that cannot be right.\n",
         ParseNoArguments, Info},
        {"map", "", true, "the board address map with this card's ports",
         "Prints the board address map: which board addresses reach internal memory, external\n"
         "memory and the two I/O ranges, with this card's port numbers and the window offsets.\n",
         ParseNoArguments, Map},
        {"config", "", true, "the card's PCI configuration space", ConfigDetails(),
         ParseNoArguments, Config},
        {"read", "ADDR COUNT " VEXOTOOL_WIDTH_OPTION, true, "read elements and print them",
         "Reads COUNT elements of " VEXOTOOL_WIDTHS " from board address ADDR and prints\n"
         "them, 16 bytes a line. Addresses that lead nowhere read as all ones.\n",
         ParseElements, Read},
        {"write", "ADDR VALUE... " VEXOTOOL_WIDTH_OPTION, true, "write elements",
         "Writes the values as consecutive elements of " VEXOTOOL_WIDTHS " from board\n"
         "address ADDR on. Every value must fit the width.\n",
         ParseWrite, Write},
        {"dump", "ADDR LENGTH", true, "bytes in hex and ASCII",
         "Reads LENGTH bytes from board address ADDR and prints them in hex and ASCII, 16 a "
         "line.\n",
         ParseElements, Dump},
        {"fill", "ADDR COUNT VALUE " VEXOTOOL_WIDTH_OPTION, true,
         "write one value into many elements",
         "Writes VALUE into COUNT elements of " VEXOTOOL_WIDTHS " from board address "
         "ADDR.\n",
         ParseElements, Fill},
        {"save", "ADDR LENGTH FILE " VEXOTOOL_WIDTH_OPTION, true, "copy memory into a binary file",
         "Reads LENGTH bytes from board address ADDR and writes them to FILE, replacing it. The\n"
         "file is written only once every byte has been read. Elements are 32-bit when ADDR and\n"
         "LENGTH are multiples of 4, else 8-bit, unless --width says otherwise (LENGTH must then\n"
         "be a multiple of the width).\n",
         ParseSave, Save},
        {"load", "ADDR FILE " VEXOTOOL_WIDTH_OPTION, true, "copy a binary file into memory",
         "Writes the whole of FILE from board address ADDR on; the file's size is the length.\n"
         "Elements are 32-bit when ADDR and the size are multiples of 4, else 8-bit, unless\n"
         "--width says otherwise (the size must then be a multiple of the width).\n",
         ParseLoad, Load},
        {"memtest", "internal|external [--range ADDR LENGTH] [--full]", true,
         "write and verify test patterns", MemTestDetails(), ParseMemTest, MemTest},
        {"key", "[set NAME VALUE | defaults | clear]", false,
         "the board configuration key: show it or write it", KeyDetails(), ParseKey, Key},
        {"help", "[COMMAND]", false, "this overview, or one command's help",
         "Prints the overview or one command's help.\n", ParseHelp, Help},
        // Not a command of its own, and so neither in the overview nor a topic of help.
        {"--version", "", false, nullptr, nullptr, ParseVersion, Version},
    };
    return rows;
}

#undef VEXOTOOL_WIDTHS
#undef VEXOTOOL_WIDTH_OPTION

int RunVexoTool(int argc, char** argv, std::FILE* out, std::FILE* err) {
    const CommandLine line = ParseCommandLine(argc, argv);
    if (!line.error.empty()) {
        std::fprintf(err, "vexotool: %s\n", line.error.c_str());
        return kExitUsage;
    }
    Session session{out, err};
    // A line that fails to open the card prints nothing on `out`, not even a first heading.
    const bool needsCard =
        std::any_of(line.commands.begin(), line.commands.end(),
                    [](const Command& command) { return command.row->needsCard; });
    if (needsCard && !OpenCard(session)) return kExitFailed;
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
        status = line.commands[i].row->run(session, line.commands[i]);
        if (!OutputWritten(session)) status = kExitFailed;
    }
    if (session.open) cVexoClose();
    return status;
}

}  // namespace vexotool
