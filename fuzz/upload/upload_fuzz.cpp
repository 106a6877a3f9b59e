// The multipart/form-data parser: whatever the body, it ends without a
// crash, and feeding it in pieces of any size gives exactly what feeding it
// whole gives (the delimiter search and the line states carry across
// pieces). The first byte chooses the boundary's length and the piece size.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/features/upload/form_upload.h"

using namespace corvane;

namespace {

class LogSink final : public upload::UploadSink {
public:
    void field(std::string_view name, std::string_view value) override
    {
        log += "F" + std::string(name) + "=" + std::string(value) + "\n";
    }
    void body_begin() override { log += "B{"; }
    void body_data(std::string_view bytes) override { log += bytes; }
    void body_end(bool complete) override { log += complete ? "}\n" : "}-\n"; }
    void file_begin(std::string_view name, std::string_view type) override
    {
        log += "A" + std::string(name) + ";" + std::string(type) + "{";
    }
    void file_data(std::string_view bytes) override { log += bytes; }
    void file_end(bool complete) override { log += complete ? "}\n" : "}-\n"; }
    std::string log;
};

std::string run(const std::string& boundary, std::string_view body, std::size_t piece)
{
    LogSink sink;
    upload::FormUploadParser parser(boundary, sink);
    for (std::size_t i = 0; i < body.size(); i += piece)
        parser.feed(body.substr(i, piece));
    parser.finish();
    return sink.log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t control = data[0];
    std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
    // Boundaries the corpus uses: "b" repeated, so inputs can be written by hand.
    const std::string boundary(1 + (control & 0x0F), 'b');
    const std::size_t piece = 1 + (control >> 4);
    const std::string whole = run(boundary, body, body.size() + 1);
    if (run(boundary, body, piece) != whole)
        abort();
    return 0;
}
