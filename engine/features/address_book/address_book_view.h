// The AddrBook view: the personal address book as a form, and the choice
// of recipients for the compose page.
//
// Finished collects the chosen rows (the repeated fields AddrNum and
// GlobalNum name them) into HeaderData, "\"Name\" <address>" each, a list
// of addresses as it stands, joined by ", ", and returns to the page before
// (the compose page adds them to the header it asked for). Finished, Save,
// Create, a Delete: button or a new sort order rewrite the personal book
// from the rows of the form, in form order, without the deleted ones; the
// global book is only ever read.
//
// A form without any AddrEMail: row never rewrites the book: every page
// that edits the book sends its rows, so such a form comes from elsewhere
// (a stale page, a crafted request) and must not empty the book.
#pragma once

#include "engine/core/dispatch/request_steps.h"

namespace corvane::address_book {

class AddressBookView final : public dispatch::ViewHandlers {
public:
    void run(dispatch::RequestContext& request) override;
};

}  // namespace corvane::address_book
