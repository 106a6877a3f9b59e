// Mailscan: command line of the store inspection tool (see mailscan.h).
//
// The MIME type table and [PopClient] UseReceivedDate come from the
// installation's Corvane.ini ($CORVANE_INI, else beside the program): the
// table is MimeTypes.cfg in [Directories] BaseDir, else beside the program.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "common/ini/profile.h"
#include "common/platform/dynamic_library.h"
#include "common/platform/files.h"
#include "common/text/strings.h"
#include "tools/mailscan/mailscan.h"

namespace {

namespace fs = corvane::platform;
using namespace corvane;

void usage(std::FILE* out)
{
    std::fputs(
        "usage: Mailscan FILE\n"
        "       Mailscan --part N FILE\n"
        "       Mailscan --check USERDIR\n"
        "       Mailscan --rebuild USERDIR\n"
        "       Mailscan --version\n"
        "  FILE             print the index fields and the part list of a message file\n"
        "  --part N FILE    write part N (1 = first listed) decoded to standard output\n"
        "  --check USERDIR  list index entries without message files and message files\n"
        "                   without index entries (exit code 1 when there are any)\n"
        "  --rebuild USERDIR  recreate Messages.idx from the message files; the old\n"
        "                   index is kept as Messages.idx.bak. Not while the user is\n"
        "                   logged on.\n",
        out);
}

struct Settings {
    mime_types::MimeTypeTable types;
    receiver::ReceiverOptions options;
};

void load_settings(Settings& settings)
{
    std::string program_dir = fs::directory_of(fs::program_path());
    const char* env = std::getenv("CORVANE_INI");
    std::string ini_path = (env && *env) ? std::string(env) : fs::join_path(program_dir, "Corvane.ini");
    std::string base_dir = program_dir;
    if (fs::is_regular_file(ini_path)) {
        ini::Profile ini(ini_path);
        base_dir = ini.text("Directories", "BaseDir", program_dir);
        settings.options.use_received_date = ini.yes_no("PopClient", "UseReceivedDate", false);
    }
    if (!settings.types.load(fs::join_path(base_dir, "MimeTypes.cfg")))
        (void)settings.types.load(fs::join_path(program_dir, "MimeTypes.cfg"));
    settings.options.types = &settings.types;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
        std::puts("Mailscan 2.0.1");
        return mailscan::exit_ok;
    }
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        usage(stdout);
        return mailscan::exit_ok;
    }

    Settings settings;
    if (args.size() == 1 && !args[0].empty() && args[0].front() != '-') {
        load_settings(settings);
        return mailscan::print_scan(std::string(args[0]), settings.options, stdout, stderr);
    }
    if (args.size() == 3 && args[0] == "--part") {
        auto n = text::parse_number(args[1]);
        if (n && *n >= 1 && *n <= 1000000) {
            load_settings(settings);
            return mailscan::write_part(std::string(args[2]), static_cast<long>(*n), settings.options, stdout, stderr);
        }
    }
    if (args.size() == 2 && args[0] == "--check")
        return mailscan::print_check(std::string(args[1]), stdout, stderr);
    if (args.size() == 2 && args[0] == "--rebuild") {
        load_settings(settings);
        return mailscan::print_rebuild(std::string(args[1]), settings.options, stdout, stderr);
    }
    usage(stderr);
    return mailscan::exit_usage;
}
