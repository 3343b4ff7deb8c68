#include "Db.h"

#include <sqlite3.h>

#include <stdexcept>

namespace greyfox::devservice {

namespace {
[[noreturn]] void fail(sqlite3* db, const std::string& what) {
  throw std::runtime_error(what + ": " + (db ? sqlite3_errmsg(db) : "no database"));
}
}  // namespace

Statement::Statement(sqlite3* db, const std::string& sql) : db_(db) {
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) fail(db, "prepare " + sql);
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

bool Statement::step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  fail(db_, "step");
}

void Statement::run() {
  while (step()) {
  }
}

int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::text(int column) const {
  auto* p = sqlite3_column_text(stmt_, column);
  return p ? std::string(reinterpret_cast<const char*>(p), sqlite3_column_bytes(stmt_, column)) : std::string();
}

bool Statement::isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

void Statement::bindOne(int index, int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) fail(db_, "bind");
}

void Statement::bindOne(int index, const std::string& value) {
  if (sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) != SQLITE_OK)
    fail(db_, "bind");
}

Db::Db(const std::string& path) {
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw std::runtime_error("open " + path + ": " + message);
  }
  exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
}

Db::~Db() { sqlite3_close(db_); }

void Db::exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "unknown";
    sqlite3_free(message);
    throw std::runtime_error("exec: " + text);
  }
}

int64_t Db::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }

Transaction::Transaction(Db& db) : db_(db) { db_.exec("SAVEPOINT tx"); }

Transaction::~Transaction() {
  if (!done_) {
    try {
      db_.exec("ROLLBACK TO tx; RELEASE tx");
    } catch (...) {
    }
  }
}

void Transaction::commit() {
  db_.exec("RELEASE tx");
  done_ = true;
}

}  // namespace greyfox::devservice
