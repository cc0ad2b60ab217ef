// Writes a run of tokens as one DEFLATE block (or, when that is smaller, as
// stored blocks of the bytes they stand for).
#pragma once

#include "bit_writer.h"
#include "tables.h"

#include <cstddef>

namespace tvserver::deflate {

// raw/rawSize: the input bytes the tokens stand for.
void WriteBlock(BitWriter& out, const Token* tokens, std::size_t count, const unsigned char* raw,
                std::size_t rawSize, bool final);

// An empty final block, for a stream that ends with nothing pending.
void WriteEmptyFinalBlock(BitWriter& out);

} // namespace tvserver::deflate
