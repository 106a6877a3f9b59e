// What a POP3 server says, line by line, through every reply and listing
// parser: nothing crashes, an identifier that is accepted can be stored,
// and dot-unstuffing only ever takes one dot off.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/transport/pop3/replies.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
        std::size_t lf = input.find('\n');
        std::string_view line = input.substr(0, lf);
        input = lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        (void)pop3::is_positive(line);
        (void)pop3::stat_count(line);
        (void)pop3::list_size(line);

        if (auto uidl = pop3::parse_uidl_line(line)) {
            if (uidl->number == 0 || !pop3::is_server_id(uidl->id))
                std::abort();
            // An identifier we keep fits a UID file line and a stored record.
            for (char c : uidl->id) {
                if (c == '\r' || c == '\n' || c == '\x01' || c == ' ')
                    std::abort();
            }
            std::string again = std::to_string(uidl->number) + " " + std::string(uidl->id);
            auto reparsed = pop3::parse_uidl_line(again);
            if (!reparsed || reparsed->number != uidl->number || reparsed->id != uidl->id)
                std::abort();
        }

        auto unstuffed = pop3::unstuff(line);
        if (unstuffed.kind == pop3::DataLine::end && line != ".")
            std::abort();
        if (unstuffed.kind == pop3::DataLine::text && line.size() - unstuffed.text.size() > 1)
            std::abort();

        std::string command = pop3::command_text(line);
        if (command.size() != line.size() || command.find_first_of("\r\n") != std::string::npos)
            std::abort();
    }
    return 0;
}
