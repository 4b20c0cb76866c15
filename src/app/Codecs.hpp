#pragma once
// The six commands, one function each, called by the command line with the
// arguments already converted. Each runs its command to completion and reports
// failures by throwing a CodecError that names the file at fault.

#include <string>

namespace meshcodec {

// Static meshes: OBJ file to compressed file, back, and to the decoder's numbering.
void encode(std::string in, std::string out, float quantization, int method);
void decode(std::string in, std::string out, int method);
void reindex(std::string in, std::string out);

// Animations: a directory of OBJ frames selected by a regular expression on their
// names, coded on a trajectory basis; decoded frames go to prefix + number + ".obj".
void encodeDynamic(std::string directory, std::string regexMask, std::string out, int bases,
                   float precision, float coefQuant, int method, std::string reference);
void decodeDynamic(std::string in, std::string prefix, int method);
void reindexDynamic(std::string directory, std::string regexMask, std::string prefix);

}  // namespace meshcodec
