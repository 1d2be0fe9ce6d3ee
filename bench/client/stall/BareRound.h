#pragma once

#include <QString>

namespace cfb {
class Confabo;
}
class StallTable;
class StallWorld;

// The library work behind each action, called directly with a Confabo on a plain thread against
// the healthy service (no window, no service thread): sign-in and its lookups, SetStatus, a poll's
// lookups, the sends, ChangeEmail, GetBlockedUserList, AddBuddy and its lookups, Logout.
class BareRound {
public:
    BareRound(StallWorld& world, StallTable& table, int round);

    // Runs on a thread of its own and returns when it is done; false when the library failed.
    bool run();

    // Ends the relations to the guests an editor added, so that every round starts with three
    // buddies. Runs on a thread of its own.
    static bool removeGuests();

private:
    QString work();

    StallWorld& world_;
    StallTable& table_;
    int round_;
};
