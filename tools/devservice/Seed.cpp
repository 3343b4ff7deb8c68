#include "Seed.h"

#include <fstream>
#include <optional>
#include <stdexcept>

#include "Images.h"
#include "secure/SecureFolderSeed.h"

namespace greyfox::devservice {

namespace {

constexpr const char* kPassword = "greyfox-demo";
constexpr uint64_t kBigSize = 64ULL * 1024 * 1024;
constexpr const char* kSecurePassword = "greyfox-secure";

// Writes the bytes `fill` produces into a new file of the folder. The file's
// size is the number of bytes written unless `plainSize` says otherwise (a
// file of a secure folder is listed with the size of its plaintext).
template <typename Fill>
int64_t addFile(Store& store, int64_t folderId, const std::string& name, Fill fill,
                std::optional<int64_t> plainSize = std::nullopt) {
  std::string temp = store.dataDir() + "/uploads/seed-" + name;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    fill(out);
    if (!out.flush()) throw std::runtime_error("cannot write " + temp);
  }
  int64_t id = store.createFile(folderId, name, Store::now());
  int64_t size = plainSize ? *plainSize
                           : static_cast<int64_t>(std::ifstream(temp, std::ios::binary | std::ios::ate).tellg());
  store.replaceContent(id, temp, size, Store::now());
  return id;
}

int64_t addText(Store& store, int64_t folderId, const std::string& name, const std::string& text) {
  return addFile(store, folderId, name, [&](std::ofstream& out) { out << text; });
}

// Sets the folder up as a client would with the demo's secure password and
// puts one encrypted file in it.
void seedSecureFolder(Store& store, int64_t folderId) {
  const std::string secret = "Only this computer can read this line: it reached the service encrypted.\n";
  ErrorPtr error;
  auto verifier = makeSecureFolderVerifier(kSecurePassword, &error);
  auto stored = verifier ? encryptSecureFileContents(secret, kSecurePassword, &error) : std::nullopt;
  if (!stored) throw std::runtime_error("cannot seed the secure folder: " + (error ? error->message() : ""));
  store.setVerifier(folderId, verifier->data, verifier->hash);
  addFile(store, folderId, "secret.txt", [&](std::ofstream& out) { out << *stored; },
          static_cast<int64_t>(secret.size()));
}

}  // namespace

namespace {
// splitmix64 of the 8-byte word's index plus one.
uint64_t bigFileWord(uint64_t index) {
  uint64_t z = (index + 1) * 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}
}  // namespace

unsigned char bigFileByte(uint64_t offset) {
  return static_cast<unsigned char>(bigFileWord(offset / 8) >> (8 * (offset % 8)));
}

void seedDemo(Store& store) {
  User demo = store.upsertUser({{"username", "demo@greyfox.test"},
                                {"password", kPassword},
                                {"drive_name", "Greyfox"},
                                {"first_name", "Demo"},
                                {"last_name", "User"},
                                {"upload_speed_limit", 0}});
  User friendUser = store.upsertUser({{"username", "friend@greyfox.test"},
                                      {"password", kPassword},
                                      {"drive_name", "Greyfox"},
                                      {"first_name", "Friendly"},
                                      {"last_name", "User"}});
  store.upsertUser({{"username", "twofa@greyfox.test"},
                    {"password", kPassword},
                    {"drive_name", "Greyfox"},
                    {"first_name", "Two"},
                    {"last_name", "Factor"},
                    {"active_2fa", "1"}});

  int64_t documents = store.createFolder(demo.rootId, "Documents");
  addText(store, documents, "readme.txt", "Welcome to Greyfox.\nThis drive is served by the local Quillbox service.\n");
  addText(store, documents, "notes.md", "# Notes\n\n- buy milk\n- water the plants\n");
  int64_t letters = store.createFolder(documents, "Letters");
  addText(store, letters, "letter.txt", "Dear friend,\n\nthe garden is in bloom.\n\nYours\n");
  int64_t draft = addText(store, documents, "old-draft.txt", "An early draft that was thrown away.\n");
  store.trashFile(draft);

  int64_t photos = store.createFolder(demo.rootId, "Photos");
  addFile(store, photos, "sunset.jpg", [](std::ofstream& out) { out << jpegImage(); });
  addFile(store, photos, "garden.png", [](std::ofstream& out) { out << pngImage(64, 48, 0x2a7f13); });

  int64_t big = store.createFolder(demo.rootId, "Big");
  addFile(store, big, "big.bin", [](std::ofstream& out) {
    std::string buffer(1 << 20, '\0');
    for (uint64_t base = 0; base < kBigSize; base += buffer.size()) {
      for (size_t i = 0; i < buffer.size(); i += 8) {
        uint64_t word = bigFileWord((base + i) / 8);
        for (size_t k = 0; k < 8; ++k) buffer[i + k] = static_cast<char>(word >> (8 * k));
      }
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    }
  });

  int64_t secure = store.createFolder(demo.rootId, "Secure");
  store.setSecureMark(secure);
  seedSecureFolder(store, secure);

  int64_t projects = store.createFolder(friendUser.rootId, "Projects");
  addText(store, projects, "plan.txt", "1. Sketch\n2. Build\n3. Ship\n");
  addText(store, projects, "todo.md", "- [ ] write the report\n- [x] book the room\n");
  int64_t archive = store.createFolder(friendUser.rootId, "Archive");
  addText(store, archive, "2019-report.txt", "Annual report 2019: all quiet.\n");
  store.addShare(projects, demo.id, "1");
  store.addShare(archive, demo.id, "0");
}

}  // namespace greyfox::devservice
