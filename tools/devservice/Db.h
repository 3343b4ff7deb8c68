// A thin layer over one SQLite connection: prepared statements with positional
// binding, and transactions. Used by the service's metadata store only.
//
// Not thread-safe: the store serializes every use under its own mutex.
// Every failure throws std::runtime_error with SQLite's message.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace greyfox::devservice {

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Binds the values in order, starting at parameter 1; returns *this.
  template <typename... Ts>
  Statement& bind(const Ts&... values) {
    int index = 1;
    (bindOne(index++, values), ...);
    return *this;
  }
  // true while a row is available; false when the statement is done.
  bool step();
  // Runs the statement to its end.
  void run();

  int64_t integer(int column) const;
  std::string text(int column) const;
  bool isNull(int column) const;

 private:
  void bindOne(int index, int64_t value);
  void bindOne(int index, int value) { bindOne(index, static_cast<int64_t>(value)); }
  void bindOne(int index, const std::string& value);
  void bindOne(int index, const char* value) { bindOne(index, std::string(value)); }

  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class Db {
 public:
  // Opens (and makes) the database file at `path`.
  explicit Db(const std::string& path);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void exec(const std::string& sql);
  int64_t lastInsertId() const;
  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// Commits at commit(); rolls back when destroyed uncommitted (an exception).
// Nests: an inner transaction is a savepoint of the outer one.
class Transaction {
 public:
  explicit Transaction(Db& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit();

 private:
  Db& db_;
  bool done_ = false;
};

}  // namespace greyfox::devservice
