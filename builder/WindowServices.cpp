// WindowServices.cpp - the services the main window hands out.
#include "builder/WindowServices.h"

#include <cstdio>

namespace crateforge {

MessageAnswer WindowMessages::ShowMessage(std::string_view caption, std::string_view text,
                                          MessageButtons buttons) {
    if (collected != nullptr && buttons == MessageButtons::Ok) {
        collected->emplace_back(text);  // said once, with the others, at the end
        return MessageAnswer::Ok;
    }
    if (closing->requested) {
        // Nobody is there to answer; what would have been said still
        // goes somewhere a person can read it.
        std::fprintf(stderr, "crateforge: %.*s\n", static_cast<int>(text.size()), text.data());
        return ClosedAnswer(buttons);
    }
    const bool lift = cursor->Waiting();
    if (lift) {
        cursor->ShowArrow();
    }
    MessageAnswer answer;
    {
        NestedLoopScope loop(*closing);
        answer = inner->ShowMessage(caption, text, buttons);
    }
    if (lift) {
        cursor->ShowState();
    }
    return answer;
}

}  // namespace crateforge
