// The page of a long folder that the List view shows: [User] ListPageSize
// messages (default 50; 0 shows the whole folder) starting at the page the
// request's Page field names. Without Page, the page that holds the
// session's current message, so "back to the list" returns to where the
// reader was; a Page that is no number, below 1 or past the end is the
// first or the last page.
#pragma once

#include <cstddef>

namespace corvane::tags {

struct TagCall;

struct ListPage {
    std::size_t number = 1;  // 1-based
    std::size_t count = 1;   // pages in the folder, at least 1
    std::size_t first = 0;   // index (within the folder) of the first message shown
    std::size_t size = 0;    // messages per page; 0 means all
    std::size_t total = 0;   // messages in the folder
};

constexpr int default_list_page_size = 50;

ListPage list_page(TagCall& call);

}  // namespace corvane::tags
