// Bounds the work an HTML parser does on a hostile document.
//
// An HTML5 tree builder checks "is an element in scope" by walking the stack
// of open elements, so a document of a million unclosed tags costs it a
// million squared steps, and a deep tree costs every recursive walk over it
// its depth in stack. Before a mail is parsed, this pass reads its tags with
// the tokenizer's rules for tag boundaries, quoted attributes, comments and
// the raw-text elements, keeps an estimate of the open-element depth that
// never falls below what a real parser would hold, and drops (only) the
// start tags that would take the estimate past max_depth, and every tag
// after max_tags. Text is never dropped, so an over-deep document still
// shows all its words, only with less markup.
//
// The output is still untrusted HTML: this pass bounds cost, the sanitiser
// decides what is safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::sanitize {

struct NestingLimits {
    std::size_t max_depth = 100;
    std::size_t max_tags = 50000;
};

struct NestingResult {
    std::string html;
    std::size_t dropped_tags = 0;
};

NestingResult limit_nesting(std::string_view html, const NestingLimits& limits = {});

}  // namespace corvane::sanitize
