#include "drive/QBFileSystemDelegate.h"

#include <cerrno>
#include <cstring>

namespace greyfox {

void setPOSIXError(ErrorPtr* error, int errnum) {
  setError(error, kPOSIXErrorDomain, errnum, std::strerror(errnum));
}

int posixCodeOf(const ErrorPtr& error) {
  if (error && error->domain == kPOSIXErrorDomain && error->code > 0) return static_cast<int>(error->code);
  return EIO;
}

std::optional<std::vector<std::string>> QBFileSystemDelegate::contentsOfDirectoryAtPath(const std::string&,
                                                                                       ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return std::nullopt;
}

std::optional<QBItemAttributes> QBFileSystemDelegate::attributesOfItemAtPath(const std::string&,
                                                                            const QBFileHandlePtr&,
                                                                            ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return std::nullopt;
}

std::optional<QBFileSystemAttributes> QBFileSystemDelegate::attributesOfFileSystemForPath(const std::string&,
                                                                                         ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return std::nullopt;
}

bool QBFileSystemDelegate::openFileAtPath(const std::string&, int, QBFileHandlePtr*, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

long QBFileSystemDelegate::readFileAtPath(const std::string&, const QBFileHandlePtr&, char*, std::size_t, off_t,
                                          ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return -1;
}

long QBFileSystemDelegate::writeFileAtPath(const std::string&, const QBFileHandlePtr&, const char*, std::size_t,
                                           off_t, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return -1;
}

void QBFileSystemDelegate::releaseFileAtPath(const std::string&, const QBFileHandlePtr&) {}

bool QBFileSystemDelegate::createFileAtPath(const std::string& path, const QBItemAttributes& attributes, int,
                                            QBFileHandlePtr* userData, ErrorPtr* error) {
  return createFileAtPath(path, attributes, userData, error);
}

bool QBFileSystemDelegate::createFileAtPath(const std::string&, const QBItemAttributes&, QBFileHandlePtr*,
                                            ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

bool QBFileSystemDelegate::createDirectoryAtPath(const std::string&, const QBItemAttributes&, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

bool QBFileSystemDelegate::removeItemAtPath(const std::string&, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

bool QBFileSystemDelegate::removeDirectoryAtPath(const std::string&, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

bool QBFileSystemDelegate::moveItemAtPath(const std::string&, const std::string&, unsigned, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

bool QBFileSystemDelegate::setAttributes(const QBAttributeChanges&, const std::string&, const QBFileHandlePtr&,
                                         ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

bool QBFileSystemDelegate::createSymbolicLinkAtPath(const std::string&, const std::string&, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

bool QBFileSystemDelegate::linkItemAtPath(const std::string&, const std::string&, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

std::optional<std::vector<std::string>> QBFileSystemDelegate::extendedAttributesOfItemAtPath(const std::string&,
                                                                                            ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return std::nullopt;
}

std::optional<std::string> QBFileSystemDelegate::valueOfExtendedAttribute(const std::string&, const std::string&,
                                                                          std::uint64_t, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return std::nullopt;
}

bool QBFileSystemDelegate::setExtendedAttribute(const std::string&, const std::string&, const std::string&,
                                                std::uint64_t, int, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

bool QBFileSystemDelegate::removeExtendedAttribute(const std::string&, const std::string&, ErrorPtr* error) {
  setPOSIXError(error, ENOSYS);
  return false;
}

}  // namespace greyfox
