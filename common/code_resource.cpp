#include "common/code_resource.h"

#include <zlib.h>

namespace corvane {

std::string GzipMember(std::string_view text) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw ECodeResourceError("zlib cannot start a gzip member");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw ECodeResourceError("zlib could not compress the code resource");
  return out;
}

std::string GunzipMember(std::string_view member, size_t maxSize) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) throw ECodeResourceError("zlib cannot start decompressing");
  std::string text;
  char buffer[16384];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data()));
  stream.avail_in = static_cast<uInt>(member.size());
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    result = inflate(&stream, Z_NO_FLUSH);
    text.append(buffer, sizeof buffer - stream.avail_out);
    if (text.size() > maxSize) result = Z_MEM_ERROR;
    if (result == Z_BUF_ERROR && stream.avail_in == 0) break;  // the member ends early
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) throw ECodeResourceError("The code resource is not a complete gzip member");
  return text;
}

TCodeResource ReadCodeResource(std::string_view member) {
  TCodeResource resource;
  resource.Text = GunzipMember(member);
  const std::string& text = resource.Text;
  const size_t first = text.find(CodeResourceSeparator);
  // The second separator is looked for after the first one's end: one that
  // shares its line breaks would put the name's end before its start.
  const size_t nameStart = first == std::string::npos ? first : first + CodeResourceSeparator.size();
  const size_t second = first == std::string::npos ? first : text.find(CodeResourceSeparator, nameStart);
  if (second == std::string::npos) throw ECodeResourceError("The code resource does not have three parts");
  resource.Code = text.substr(0, first);
  resource.FormName = text.substr(nameStart, second - nameStart);
  size_t start = second + CodeResourceSeparator.size();
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    resource.Items.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return resource;
}

}  // namespace corvane
