// `quillbox demo --protocol USRPRTCL`: the example user protocol against its scripted device.
#pragma once

#include <string>

namespace qb::cli {

int RunUserProtocolDemo(double seconds, const std::string& definitionFile,
                        const std::string& scriptFile);

}  // namespace qb::cli
