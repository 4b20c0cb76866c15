// Placeholders for the animation pipelines, which are not built yet: a known command with the
// right argument count does nothing beyond the banner.
#include "app/Codecs.hpp"

namespace meshcodec {

void encodeDynamic(std::string directory, std::string regexMask, std::string out, int bases,
                   float precision, float coefQuant, int method, std::string reference) {}
void decodeDynamic(std::string in, std::string prefix, int method) {}
void reindexDynamic(std::string directory, std::string regexMask, std::string prefix) {}

}  // namespace meshcodec
