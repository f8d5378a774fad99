#include "net/http/HttpMethod.h"

#include <iterator>

namespace qvl {

namespace {

// In CmdType order.
constexpr THttpMethod kMethods[] = {
    {CmdGet, "GET", "GET ", false, false},
    {CmdOptions, "OPTIONS", "OPTIONS ", false, false},
    {CmdHead, "HEAD", "HEAD ", false, false},
    {CmdPost, "POST", "POST ", true, false},
    {CmdPut, "PUT", "PUT ", true, false},
    {CmdPatch, "PATCH", "PATCH ", true, false},
    {CmdCopy, "COPY", "COPY ", false, true},
    {CmdMove, "MOVE", "MOVE ", false, true},
    {CmdDelete, "DELETE", "DELETE ", false, false},
    // Link and Unlink name "Send.dat" as their data but have no body to send, so they announce
    // none.
    {CmdLink, "LINK", "LINK ", false, true},
    {CmdUnlink, "UNLINK", "UNLINK ", false, true},
    {CmdTrace, "TRACE", "TRACE ", true, false},
    // A request line needs a method; a request that carries data without naming one is sent the
    // way form data is.
    {CmdNoMethod, "NONE", "POST ", true, false},
};

static_assert(std::size(kMethods) == CmdNoMethod + 1);

constexpr bool InCmdTypeOrder() {
    for (size_t i = 0; i < std::size(kMethods); ++i)
        if (kMethods[i].cmd != i) return false;
    return true;
}
static_assert(InCmdTypeOrder());

}  // namespace

const THttpMethod& MethodOf(CmdType cmd) {
    // A value outside the enumeration is sent as a GET, as it always was.
    return cmd < std::size(kMethods) ? kMethods[cmd] : kMethods[CmdGet];
}

const THttpMethod* FindMethod(std::string_view name) {
    for (const THttpMethod& method : kMethods)
        if (name == method.name) return &method;
    return nullptr;
}

}  // namespace qvl
