#pragma once
// The client's commands and what each one sends: one table that the client and the command line
// both read.
#include <cstdint>
#include <string_view>

namespace qvl {

// The commands, by the values the outcome events report.
enum CmdType : uint8_t {
    CmdGet = 0,
    CmdOptions = 1,
    CmdHead = 2,
    CmdPost = 3,
    CmdPut = 4,
    CmdPatch = 5,
    CmdCopy = 6,
    CmdMove = 7,
    CmdDelete = 8,
    CmdLink = 9,
    CmdUnlink = 10,
    CmdTrace = 11,
    CmdNoMethod = 12,
};

struct THttpMethod {
    CmdType cmd;
    const char* name;   // as a command line names it: "GET", ..., "NONE" for CmdNoMethod
    const char* word;   // what starts the request line: "GET ", ..., "POST " for CmdNoMethod
    bool hasBody;       // sends its data as the body, announced by Content-Length
    bool takesValue;    // its data argument is a header value (URI-header, Link), not a body
};

const THttpMethod& MethodOf(CmdType cmd);
// The command called `name` (upper case, as in MethodOf(cmd).name); nullptr for none.
const THttpMethod* FindMethod(std::string_view name);

}  // namespace qvl
