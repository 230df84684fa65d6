#include "cli/ProgramTexts.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"

const char* ProgramTexts::Help() {
    return "Usage: flashupgrade [COMMAND] [OPTIONS]\n"
           "Writes the firmware image built into this program to a CD/DVD drive of the\n"
           "supported family, over the kernel's SCSI generic interface (SG_IO).\n"
           "\n"
           "Commands:\n"
           "  list                 the drives found, one line each (the default command)\n"
           "  image                the image built into this program and its checksum\n"
           "  upgrade              write the image to a drive that does not hold it, commit\n"
           "  save FILE            read the drive's whole flash into FILE\n"
           "  verify               compare the drive's flash with the image; writes nothing\n"
           "\n"
           "Options:\n"
           "  --drive N            the drive numbered N by list; N,M,...: those drives,\n"
           "                       at once\n"
           "  --all                upgrade, save, verify: every listed drive, at once\n"
           "                       (upgrade, verify: those whose flash can hold the image)\n"
           "  --device PATH        the drive at PATH: /dev/srN, /dev/sgN or a link to one\n"
           "  --yes                answer yes to the questions (needed without a terminal)\n"
           "  --backup FILE        upgrade: first keep the drive's old flash in FILE\n"
           "                       (recommended: FILE is the way back to the old firmware)\n"
           "  --dry-run            upgrade: do everything short of the first write\n"
           "  --no-verify          upgrade: no read-back of the flash after the commit\n"
           "  --force              upgrade: write even a drive whose flash already holds\n"
           "                       the image, or whose firmware is newer\n"
           "  --allow-older        upgrade: write an image older than the drive's firmware\n"
           "  --timeout SECONDS    the time one command may take (default 256)\n"
           "  -v, --verbose        every command sent, with its answer, on stderr; twice:\n"
           "                       and the first bytes of its data\n"
           "  --json               list, image: one JSON document for scripts; upgrade,\n"
           "                       save, verify: each drive's result in one JSON document\n"
           "  --help               this text\n"
           "  --version            the program's version\n"
           "\n"
           "With one drive, upgrade, save and verify take it; with several, name one, or\n"
           "several with --drive N,M,... or --all: they run at once, each drive on its own,\n"
           "after one question. FILE is then a folder (flash-N.bin in it for drive N) or a\n"
           "name in which %n stands for the drive's number.\n"
           "Writing firmware needs root, or read and write access to the drive's /dev/sgN\n"
           "and /dev/srN nodes (their group). The new firmware takes effect when the drive\n"
           "restarts. From its first write an upgrade runs to its end: Ctrl-C, SIGTERM and\n"
           "SIGHUP wait for it.\n"
           "\n"
           "Exit status:\n"
           "  0  done (an upgrade: committed, and the flash read back equals the image;\n"
           "     or the drive already held the image, and nothing was written)\n"
           "  1  the operation failed, or an older image was refused; nothing was written\n"
           "  2  the command line or the system stood in the way; nothing was written\n"
           "  3  something was written and the upgrade did not complete: do not power off\n"
           "     or restart; run the same upgrade again\n"
           "  128+N  stopped by signal N before anything was written\n"
           "  Over several drives, the worst of theirs: 3, then 1, then 0; 2 when none\n"
           "  started.\n"
           "See flashupgrade(8).\n";
}

const char* ProgramTexts::Version() {
    return "flashupgrade 1.51";
}

std::string ProgramTexts::ImageVersion(const unsigned char* slot) {
    char text[upgrade::FirmwareSlot::VersionTextSize];
    upgrade::SlotText(reinterpret_cast<const char*>(slot) + offsetof(upgrade::FirmwareSlot, VersionText), text);
    return text;
}

const char* ProgramTexts::RestartLine() {
    return "The new firmware takes effect when the drive restarts: power-cycle it or restart the computer.";
}

std::string ProgramTexts::DriveLine(const DeviceRecord& record, const SgIoTransport::ScsiAddress& address) {
    char line[128];
    std::snprintf(line, sizeof line, "(%u, %u, %u, %u) %.8s %.16s Version %u.%u", unsigned{address.Host},
                  unsigned{address.Channel}, unsigned{address.Target}, unsigned{address.Lun}, record.Vendor,
                  record.Product, unsigned{record.VersionMajor}, unsigned{record.VersionMinor});
    return line;
}

std::string ProgramTexts::Node(const DeviceRecord& record) {
    return std::string(record.DosDeviceName, strnlen(record.DosDeviceName, sizeof record.DosDeviceName));
}

std::string ProgramTexts::Trimmed(const char* field, size_t size) {
    std::string text(field, strnlen(field, size));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string ProgramTexts::EnvironmentError(int error, const std::string& node) {
    std::string reason;
    switch (error) {
    case EACCES:
    case EPERM: reason = "no permission: needs root, or read and write access to " + node; break;
    case EBUSY: reason = "busy: mounted, or held open by another program"; break;
    case ENOENT:
    case ENXIO:
    case ENODEV: reason = "gone: the drive is no longer there"; break;
    default: reason = std::strerror(error); break;
    }
    return "flashupgrade: " + node + ": " + reason;
}

std::string ProgramTexts::WriteRefused(const std::string& node) {
    return "flashupgrade: " + node +
           ": no permission to write firmware through this node: needs root, or the sg driver "
           "(modprobe sg) and read and write access to the drive's /dev/sgN";
}

void ProgramTexts::DriveFields(JsonWriter& json, size_t number, const DeviceRecord& record,
                               const SgIoTransport::ScsiAddress& address) {
    char controller[8];
    std::snprintf(controller, sizeof controller, "%04X", unsigned{record.ControllerId});
    json.Key("number");
    json.Number(number);
    json.Key("host");
    json.Number(address.Host);
    json.Key("channel");
    json.Number(address.Channel);
    json.Key("target");
    json.Number(address.Target);
    json.Key("lun");
    json.Number(address.Lun);
    json.Key("vendor");
    json.String(Trimmed(record.Vendor, sizeof record.Vendor));
    json.Key("product");
    json.String(Trimmed(record.Product, sizeof record.Product));
    json.Key("vendorField");
    json.String(std::string(record.Vendor, strnlen(record.Vendor, sizeof record.Vendor)));
    json.Key("productField");
    json.String(std::string(record.Product, strnlen(record.Product, sizeof record.Product)));
    json.Key("version");
    json.String(std::to_string(record.VersionMajor) + "." + std::to_string(record.VersionMinor));
    json.Key("versionMajor");
    json.Number(record.VersionMajor);
    json.Key("versionMinor");
    json.Number(record.VersionMinor);
    json.Key("controllerId");
    json.String(controller);
    json.Key("flashSize");
    json.Number(record.FlashSize);
    json.Key("node");
    json.String(Node(record));
}
