#pragma once

namespace cfb::client::HelpContext {

// The help pages a window or question opens by number (HelpWindow::topicUrl maps them).
inline constexpr int Contents = 0;
inline constexpr int InvitationsSent = 103;
inline constexpr int InviteUsers = 144;

} // namespace cfb::client::HelpContext
