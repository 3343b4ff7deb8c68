// The byte-exact encodings of a service request: percent-encoding of path
// arguments and query pairs, the query string, the multipart form body and
// the resolution of an endpoint against the base URL. Pure functions, safe
// from any thread.
//
// Parameter values are JSON values: strings, numbers, booleans, or binary
// values (nlohmann::json::binary) for byte buffers.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace greyfox {

// The fixed boundary of every multipart body.
inline constexpr const char* kMultipartBoundary = "------WebKitFormBoundaryf8AVk0gFLWQNUVjP";

// Percent-encodes the UTF-8 bytes of `text`; only ASCII letters, digits and
// "-", ".", "_", "~" stay as they are. Hex digits are upper case.
std::string urlEncode(std::string_view text);

// The text form of a parameter value: a string as it is, a number in
// decimal, a boolean as "1" or "0", a byte buffer as its raw bytes.
std::string parameterText(const nlohmann::json& value);

// "k1=v1&k2=v2" over the parameters in key order, both sides percent-encoded,
// leaving out the key `skip` when it is non-empty. "" for null or no pairs.
std::string queryString(const nlohmann::json& parameters, std::string_view skip = {});

// The multipart form body of the parameters, in key order: each part opens
// with CR LF, "--", the boundary and CR LF; byte buffers are file parts named
// and file-named after their key with type "application/octet-stream"; the
// body ends with CR LF, "--", the boundary, "--", CR LF.
std::string multipartBody(const nlohmann::json& parameters);

// Resolves `endpoint` against `base` as a relative URL reference: a path
// without a leading "/" replaces what follows the base's last "/"; one with
// a leading "/" replaces the base's whole path.
std::string resolveEndpoint(const std::string& base, const std::string& endpoint);

}  // namespace greyfox
