// The composition root: the one place where the engine's modules are made
// and each is handed its collaborators.
//
// It owns one object per step of a request (the feature modules of
// engine/features, and not_available for the steps no module carries out
// yet), the request dispatcher that calls them, and the engine that runs
// the dispatcher and builds its own parts at each StartUp (settings, log,
// shared memory, templates, directory library, MIME types, sessions; see
// lifecycle/engine.h). Reading this file and its .cpp tells which module
// answers which step.
//
// Corvane.so makes one at load time (exports.cpp); tests and fuzz targets
// that want the engine as Corvane.so wires it, but in their own process,
// make their own.
#pragma once

#include <memory>
#include <string>

#include "engine/core/dispatch/dispatcher.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/features/address_book/address_book_view.h"
#include "engine/features/compose/compose_views.h"
#include "engine/features/folders/folders_view.h"
#include "engine/features/list_order/list_order.h"
#include "engine/features/mail_check/mail_check.h"
#include "engine/features/mailbox_actions/mailbox_actions.h"
#include "engine/features/not_available/not_available.h"
#include "engine/features/read_confirmation/read_confirmation.h"
#include "engine/features/tags/tags.h"
#include "engine/features/views/mailbox_views.h"
#include "engine/features/welcome/welcome_message.h"

namespace corvane::library {

class CompositionRoot {
public:
    // config_path: the full path of Corvane.ini.
    explicit CompositionRoot(std::string config_path);
    CompositionRoot(const CompositionRoot&) = delete;
    CompositionRoot& operator=(const CompositionRoot&) = delete;

    lifecycle::Engine& engine() { return m_engine; }

private:
    // The steps of a request, one module each.
    mailbox_actions::MailboxActions m_mailbox;
    list_order::ListOrder m_list_order;
    compose::ComposeViews m_compose;
    mail_check::MailCheck m_mail_check;
    read_confirmation::ReadConfirmations m_read_confirmation;
    not_available::NewUserHandler m_new_user;
    tags::Tags m_tags;
    // What the start and the end of a session hand on.
    mail_check::ServerDeletion m_server_deletion;
    welcome::WelcomeMessage m_welcome;
    // The views the mailbox views hand on: compose (m_compose), the option
    // pages, the folders and the address book.
    not_available::ViewHandlers m_option_views;
    folders::FoldersView m_folders_view;
    address_book::AddressBookView m_address_book_view;
    views::MailboxViews m_views;

    // Made last and destroyed first: they use everything above.
    std::shared_ptr<dispatch::Dispatcher> m_dispatcher;
    lifecycle::Engine m_engine;
};

}  // namespace corvane::library
