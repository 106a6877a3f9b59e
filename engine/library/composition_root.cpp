#include "engine/library/composition_root.h"

namespace corvane::library {

CompositionRoot::CompositionRoot(std::string config_path)
    : m_server_deletion(config_path),
      m_welcome(config_path),
      m_views(views::Collaborators{
          .compose = m_compose,
          .options = m_option_views,
          .folders = m_folders_view,
          .address_book = m_address_book_view,
          .compose_work = m_compose,
          .tags = m_tags,
      }),
      m_dispatcher(std::make_shared<dispatch::Dispatcher>(dispatch::RequestSteps{
          .mailbox = m_mailbox,
          .list_order = m_list_order,
          .views = m_views,
          .compose = m_compose,
          .mail_check = m_mail_check,
          .read_confirmation = m_read_confirmation,
          .new_user = m_new_user,
          .tags = m_tags,
      })),
      m_engine(std::move(config_path), lifecycle::EngineModules{
                                           .handler = m_dispatcher,
                                           .server_deletion = &m_server_deletion,
                                           .welcome = &m_welcome,
                                       })
{
}

}  // namespace corvane::library
