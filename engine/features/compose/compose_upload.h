// A compose page's multipart/form-data post, read into the compose
// directory and the request's fields.
//
// Ordinary fields become request fields (replacing a field of the same
// name); Body replaces ".body.txt"; the file of the Attachment field
// becomes an attachment under its reduced name, and AttachName, AttachType
// and AttachBoundary are set. Files are written under a temporary compose
// name and put in place when their part is complete, so an attachment cut
// short (the input ended, the disk filled) is never kept and never replaces
// an earlier file of the same name, and a failed upload never leaves half a
// file. A post larger than the limit is refused before any byte is read.
//
// Not done here: parsing (form_upload.h), what the fields mean.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/features/compose/compose_directory.h"

namespace corvane::cgi {
class FieldTable;
class InputStream;
}  // namespace corvane::cgi
namespace corvane::compose {

enum class UploadOutcome {
    not_multipart,  // not multipart/form-data (or no usable boundary): nothing read
    too_large,      // the body is larger than the limit: nothing read
    stored,         // parsed; every part that was complete is in place
    incomplete,     // parsed, but the attachment (or the body) ended early and was not kept
    write_failed,   // a file could not be written; it was not kept
};

struct UploadReport {
    UploadOutcome outcome = UploadOutcome::not_multipart;
    std::string attachment;   // the stored attachment's name, if any
    std::uint64_t bytes = 0;  // bytes of the attachment stored
};

// Reads the body of content_length bytes (the caller has the request's
// CONTENT_TYPE and CONTENT_LENGTH) in blocks from in.
UploadReport receive_upload(cgi::InputStream& in, std::string_view content_type, std::uint64_t content_length,
                            std::uint64_t limit, const ComposeDirectory& dir, cgi::FieldTable& fields);

}  // namespace corvane::compose
