#pragma once
// The binary stream layer of the image readers and writers: one input stream
// and one output stream at a time, opened by name, read and written in blocks
// with optional byte swapping of 2-byte pairs or 4-byte groups.
//
// Stream ids: 1 the input stream, 2 the output stream (an id keeps its value
// after the stream closes). Open modes: 1 binary read, 2 binary write, 3 text
// read, 4 text write. Swap codes: 0 none, 1 swap each byte pair, 2 reverse
// each 4-byte group (incomplete trailing pairs or groups stay as they are);
// other values count as 0. Byte positions are 0-based and 64-bit.
//
// The output stream writes into a temporary file beside the target, which
// replaces the target only when the stream is closed after every write
// succeeded; a writer that fails (or never closes) leaves the old file as it
// was.
//
// Return codes (RETSTAT), never STATUS:
//   open   0 opened, 1 mode not 1-4, 2 a stream of that direction is open,
//          3 the system refused the file
//   close  0 closed, 1 id is neither stream's, 2 stream not open,
//          3 (output) a write had failed or the file could not replace the
//          target: the target is unchanged
//   read   0 all read, 1 count beyond the buffer or not the input id,
//          2 input not open, 3 end of file (nothing read), 4 positioning
//          failed, 5 fewer bytes than asked
//   write  0 all written, 1 count beyond the buffer or not the output id,
//          2 output not open, 3 fewer bytes written than asked

#include <cstddef>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

inline constexpr int kFioInputStream = 1;
inline constexpr int kFioOutputStream = 2;

void FIO_FILEOPENC(const std::string& file_name, int mode, int& retstat, int& stream_id);
void FIO_FILECLOSEC(int stream_id, int& retstat);

// Reads NUM_BYTES bytes (at most MAX_BYTES, which itself is limited to the
// buffer's size) into BUFFER and swaps the bytes read. Unpositioned reads warn
// on the terminal about a closed stream, the end of the file and short reads.
void FIO_FILEREADC(int stream_id, Index max_bytes, Index num_bytes, int swap, int& retstat,
                   Index& bytes_read, std::span<std::byte> buffer);
// The same from BYTE_POSITION, without messages; NUM_BYTES 0 only positions.
void FIO_FILEPREADC(int stream_id, Index byte_position, Index max_bytes, Index num_bytes,
                    int swap, int& retstat, Index& bytes_read, std::span<std::byte> buffer);
// One text line of at most MAX_CHARS - 1 characters, its newline kept when it
// fits; a line of the newline alone comes back as " ". RETSTAT 3 at the end.
void FIO_ASCIIREADC(int stream_id, int max_chars, int& retstat, std::string& buffer);

// Swaps BUFFER in place (and leaves it swapped), then writes NUM_BYTES bytes.
// A write that failed gives RETSTAT 3 without a line of its own: the close
// (FIO_FILECLOSEC) says it once, naming the file and what became of it.
void FIO_FILEWRITEC(int stream_id, Index max_bytes, Index num_bytes, int swap,
                    std::span<std::byte> buffer, int& retstat, Index& bytes_written);
// NUM_VALUES reals in the machine's byte order; a failure as FIO_FILEWRITEC.
void FIO_FILEWREALC(int stream_id, Index max_values, Index num_values,
                    std::span<const float> buffer, int& retstat, Index& values_written);

// MODE "READ", "WRITE", "READ_ASCII" or "WRITE_ASCII" (other: 180017; a blank
// name 180033); RETSTAT and STREAM_ID as FIO_FILEOPENC, STATUS stays good.
void FIO_FILEOPEN(std::string_view file_name, std::string_view mode, int& retstat, int& stream_id,
                  Status& status);
// Optionally asks for the name ("FILE NAME") until the file opens; RETSTAT 1
// after a user escape (STATUS then the escape) or a bad "~" path.
void FIO_OPENFILE(bool prompt, std::string_view mode, std::string& file_name, int& retstat,
                  int& stream_id, Status& status);

// The open input stream (nullptr when closed), for decoders that read it byte
// by byte.
std::FILE* fio_input_file();

// Applies a swap code to the first SIZE bytes of BYTES.
void fio_swap_bytes(std::span<std::byte> bytes, int swap);

}  // namespace kesta
