#pragma once
// The script bridge over HTTP: a request body in, a status and a one-line
// JSON answer out.
//
//   POST /call   {"method": NAME, "args": [...]}   ->  {"result": value}
//   POST /batch  [call, call, ...]                  ->  [{"result": value}, ...]
//
// "args" may be left out for a call without arguments. Every call of a batch
// is checked before the first one runs, so a refused batch changes nothing in
// the plug-in object. Refusals are 400 with {"error": "..."}.

#include <string>
#include <string_view>

namespace vq {
class Velquette;
}

namespace vq::host {

struct Reply {
    unsigned status = 200;
    std::string body;  // one line of JSON
};

Reply errorReply(unsigned status, std::string_view message);

Reply answerCall(Velquette& object, std::string_view requestBody);
Reply answerBatch(Velquette& object, std::string_view requestBody);

}  // namespace vq::host
