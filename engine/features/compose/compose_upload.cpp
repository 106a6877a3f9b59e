#include "engine/features/compose/compose_upload.h"

#include <memory>

#include "common/platform/files.h"
#include "engine/core/cgi/field_table.h"
#include "engine/core/cgi/streams.h"
#include "engine/features/upload/form_upload.h"
#include "engine/store/message_index/store_files.h"

namespace corvane::compose {
namespace {

constexpr std::size_t kBlock = 64 * 1024;
constexpr std::string_view kBodyPart = ".body.part";
constexpr std::string_view kFilePart = ".upload.part";

class ComposeSink final : public upload::UploadSink {
public:
    ComposeSink(const ComposeDirectory& dir, cgi::FieldTable& fields, std::string boundary)
        : m_dir(dir), m_fields(fields), m_boundary(std::move(boundary))
    {
    }

    void field(std::string_view name, std::string_view value) override { m_fields.set(name, value); }

    void body_begin() override { open(m_body, kBodyPart); }
    void body_data(std::string_view bytes) override
    {
        if (m_body.is_open())
            m_body.write(bytes);
    }
    void body_end(bool complete) override
    {
        // Text cut short is still the newest text the user typed: it
        // replaces the body. A file that could not be written does not.
        if (!close(m_body, kBodyPart, ".body.txt"))
            m_report.outcome = UploadOutcome::write_failed;
        else if (!complete)
            m_body_incomplete = true;
    }

    void file_begin(std::string_view file_name, std::string_view content_type) override
    {
        m_name = ComposeDirectory::attachment_name(file_name);
        m_fields.set("AttachName", m_name);
        m_fields.set("AttachType", content_type);
        m_fields.set("AttachBoundary", m_boundary);
        m_file_bytes = 0;
        if (!m_name.empty())
            open(m_file, kFilePart);
    }
    void file_data(std::string_view bytes) override
    {
        if (m_file.is_open()) {
            m_file.write(bytes);
            m_file_bytes += bytes.size();
        }
    }
    void file_end(bool complete) override
    {
        if (m_name.empty())
            return;
        if (!complete) {
            m_file.abandon();
            m_file_incomplete = true;
            return;
        }
        if (!close(m_file, kFilePart, m_name)) {
            m_report.outcome = UploadOutcome::write_failed;
            return;
        }
        // An earlier attachment of that name may have had a type of its own.
        (void)platform::remove_file(m_dir.file("." + m_name));
        m_report.attachment = m_name;
        m_report.bytes = m_file_bytes;
    }

    UploadReport report()
    {
        if (m_file.is_open())
            m_file.abandon();
        if (m_body.is_open())
            m_body.abandon();
        if (m_report.outcome != UploadOutcome::write_failed)
            m_report.outcome =
                (m_file_incomplete || m_body_incomplete) ? UploadOutcome::incomplete : UploadOutcome::stored;
        return m_report;
    }

private:
    void open(store::OutputFile& file, std::string_view temp)
    {
        (void)m_dir.ensure();
        auto created = store::OutputFile::create(m_dir.file(temp));
        if (created)
            file = std::move(*created);
        else
            m_report.outcome = UploadOutcome::write_failed;
    }
    bool close(store::OutputFile& file, std::string_view temp, std::string_view final_name)
    {
        if (!file.is_open())
            return false;
        if (!file.close()) {
            (void)platform::remove_file(m_dir.file(temp));
            return false;
        }
        if (!platform::rename_file(m_dir.file(temp), m_dir.file(final_name))) {
            (void)platform::remove_file(m_dir.file(temp));
            return false;
        }
        return true;
    }

    const ComposeDirectory& m_dir;
    cgi::FieldTable& m_fields;
    std::string m_boundary;
    store::OutputFile m_body;
    store::OutputFile m_file;
    std::string m_name;
    std::uint64_t m_file_bytes = 0;
    bool m_file_incomplete = false;
    bool m_body_incomplete = false;
    UploadReport m_report;
};

}  // namespace

UploadReport receive_upload(cgi::InputStream& in, std::string_view content_type, std::uint64_t content_length,
                            std::uint64_t limit, const ComposeDirectory& dir, cgi::FieldTable& fields)
{
    UploadReport report;
    const auto boundary = upload::form_boundary(content_type);
    if (!boundary)
        return report;
    if (content_length > limit) {
        report.outcome = UploadOutcome::too_large;
        return report;
    }
    ComposeSink sink(dir, fields, *boundary);
    upload::FormUploadParser parser(*boundary, sink);
    auto block = std::make_unique<char[]>(kBlock);
    while (!parser.done()) {
        const std::size_t n = in.read(block.get(), kBlock);
        if (n == 0)
            break;
        parser.feed(std::string_view(block.get(), n));
    }
    parser.finish();
    return sink.report();
}

}  // namespace corvane::compose
