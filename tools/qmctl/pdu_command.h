// "qmctl pdu": offline encoding and decoding of SMS PDUs, for users and for
// debugging modems.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace qm {

// Runs "pdu" with the arguments behind it. Output goes to `out`, messages to
// `err`, "-" reads PDUs from `in`. Returns the exit status: 0 success, 1 a PDU
// that cannot be decoded or a message that cannot be encoded, 2 a usage error.
int RunPduCommand(const std::vector<std::string>& args, std::FILE* in, std::FILE* out, std::FILE* err);

}  // namespace qm
