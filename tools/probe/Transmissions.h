// `orvento-probe --transmissions`: decodes a file or stream through the output
// queue into the transmission detector and prints each transmission it
// finds as one JSON object per line, in time order, on `out`:
//   {"start_s": 12.34, "duration_s": 2.10, "peak_dbfs": -9.5}
// Times count from the first sample the decoder put out. State lines and
// failures go to `err`. Returns the exit status: 0 once the whole input was
// read (also with no transmission), 1 when it could not be decoded.
#pragma once

#include <iosfwd>
#include <string>

#include "engine/demux/FileTypeHint.h"

namespace orvento::probe {

struct TransmissionsRequest {
    std::string source;  // a file or an http(s) URL
    AudioFileType hint = AudioFileType::None;
    std::size_t chunkSize = 32768;  // a file's read size
    double seconds = 10;            // a URL's reading time
};

int printTransmissions(const TransmissionsRequest& request, std::ostream& out, std::ostream& err);

}  // namespace orvento::probe
