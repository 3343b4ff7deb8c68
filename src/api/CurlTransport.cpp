#include "api/CurlTransport.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "api/ApiError.h"
#include "platform/Preferences.h"
#include "platform/RunLoop.h"

namespace greyfox {

namespace {

double steadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

void ensureCurlGlobal() { static CurlGlobal global; }

// One exchange's state, shared by the blocking and the non-blocking paths.
struct Exchange {
  HttpRequest request;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  char errorBuffer[CURL_ERROR_SIZE] = {0};
  double timeout = 240;
  double lastActivity = 0;
  curl_off_t lastDown = 0;
  curl_off_t lastUp = 0;
  bool idleExpired = false;

  // Blocking path: the body is collected here.
  std::string body;
  // Non-blocking path.
  bool async = false;
  HttpEvents events;
  std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
  bool responsePosted = false;
  // Body bytes posted to the main run loop and not yet handed over. Above
  // kPendingLimit the transfer pauses until the loop has caught up, so a
  // receiver slower than the network does not queue the body in memory.
  std::shared_ptr<std::atomic<std::int64_t>> pendingBytes = std::make_shared<std::atomic<std::int64_t>>(0);
  bool paused = false;  // network thread only
  std::function<void()> wakeNetwork;

  ~Exchange() {
    if (headers) curl_slist_free_all(headers);
  }

  template <typename F>
  void post(F f) {
    auto flag = cancelled;
    RunLoop::main().post([flag, f = std::move(f)]() mutable {
      if (!flag->load()) f();
    });
  }

  void postResponse() {
    if (responsePosted) return;
    responsePosted = true;
    long status = 0;
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (events.response) {
      auto cb = events.response;
      post([cb, status, length] { cb(status, static_cast<std::int64_t>(length)); });
    }
  }
};

constexpr std::int64_t kPendingLimit = 4 << 20;
constexpr std::int64_t kPendingResume = 1 << 20;

size_t onHeader(char* data, size_t size, size_t n, void* user) {
  auto* x = static_cast<Exchange*>(user);
  size_t len = size * n;
  x->lastActivity = steadyNow();
  // The empty line ends a header block; interim (1xx) blocks are skipped.
  if (x->async && (len == 2 && data[0] == '\r' && data[1] == '\n')) {
    long status = 0;
    curl_easy_getinfo(x->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 200) x->postResponse();
  }
  return len;
}

size_t onBody(char* data, size_t size, size_t n, void* user) {
  auto* x = static_cast<Exchange*>(user);
  size_t len = size * n;
  x->lastActivity = steadyNow();
  if (!x->async) {
    x->body.append(data, len);
    return len;
  }
  x->postResponse();
  if (x->events.data) {
    if (x->pendingBytes->load() > kPendingLimit) {
      x->paused = true;
      return CURL_WRITEFUNC_PAUSE;  // the same bytes come again after curl_easy_pause(CONT)
    }
    auto cb = x->events.data;
    auto pending = x->pendingBytes;
    auto size = static_cast<std::int64_t>(len);
    *pending += size;
    x->post([cb, chunk = std::string(data, len), pending, size, wake = x->wakeNetwork] {
      cb(chunk);
      std::int64_t before = pending->fetch_sub(size);
      if (before > kPendingResume && before - size <= kPendingResume && wake) wake();
    });
  }
  return len;
}

size_t onRead(char* buffer, size_t size, size_t n, void* user) {
  auto* x = static_cast<Exchange*>(user);
  std::istream& in = *x->request.bodyStream;
  in.read(buffer, static_cast<std::streamsize>(size * n));
  if (in.bad()) return CURL_READFUNC_ABORT;
  return static_cast<size_t>(in.gcount());
}

int onProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
  auto* x = static_cast<Exchange*>(user);
  double now = steadyNow();
  // A transfer paused for its receiver is not idle.
  if (dlnow != x->lastDown || ulnow != x->lastUp || x->paused) x->lastActivity = now;
  if (x->async && ulnow != x->lastUp && x->events.uploadProgress) {
    auto cb = x->events.uploadProgress;
    std::int64_t expected = ultotal > 0 ? ultotal : -1;
    x->post([cb, ulnow, expected] { cb(ulnow, expected); });
  }
  x->lastDown = dlnow;
  x->lastUp = ulnow;
  if (x->async && x->cancelled->load()) return 1;
  if (now - x->lastActivity > x->timeout) {
    x->idleExpired = true;
    return 1;
  }
  return 0;
}

ErrorPtr errorFor(const Exchange& x, CURLcode code) {
  if (x.idleExpired) {
    return makeTransportError(kHttpTransportErrorDomain, CURLE_OPERATION_TIMEDOUT, "The request timed out.");
  }
  std::string reason = x.errorBuffer[0] ? x.errorBuffer : curl_easy_strerror(code);
  return makeTransportError(kHttpTransportErrorDomain, code, reason);
}

}  // namespace

CurlTransportOptions CurlTransportOptions::fromEnvironment() {
  CurlTransportOptions o;
  if (const char* env = std::getenv("GREYFOX_CA_FILE"); env && *env) {
    o.caFile = env;
  } else if (auto pref = Preferences::standard().get("serviceCAFile"); pref.is_string()) {
    o.caFile = pref.get<std::string>();
  }
  return o;
}

class CurlTask : public HttpTask {
 public:
  CurlTask(std::shared_ptr<std::atomic<bool>> cancelled, std::function<void()> wake)
      : cancelled_(std::move(cancelled)), wake_(std::move(wake)) {}
  void cancel() override {
    cancelled_->store(true);
    wake_();
  }

 private:
  std::shared_ptr<std::atomic<bool>> cancelled_;
  std::function<void()> wake_;
};

// Wakes the network thread; outlives the transport so a task cancelled after
// the transport ended does nothing.
struct Waker {
  std::mutex mutex;
  CURLM* multi = nullptr;  // guarded by mutex; null once the transport ended
  void wake() {
    std::lock_guard<std::mutex> lock(mutex);
    if (multi) curl_multi_wakeup(multi);
  }
};

struct CurlTransport::Impl {
  CurlTransportOptions options;
  std::shared_ptr<Waker> waker = std::make_shared<Waker>();
  CURLSH* share = nullptr;
  std::mutex shareLocks[CURL_LOCK_DATA_LAST];

  std::mutex poolMutex;
  std::vector<CURL*> idleHandles;  // guarded by poolMutex

  CURLM* multi = nullptr;
  std::thread network;
  std::mutex queueMutex;
  std::vector<std::unique_ptr<Exchange>> incoming;  // guarded by queueMutex
  bool stopping = false;                             // guarded by queueMutex

  static void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<Impl*>(user)->shareLocks[data].lock();
  }
  static void unlockShare(CURL*, curl_lock_data data, void* user) {
    static_cast<Impl*>(user)->shareLocks[data].unlock();
  }

  explicit Impl(CurlTransportOptions o) : options(std::move(o)) {
    ensureCurlGlobal();
    share = curl_share_init();
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Impl::lockShare);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Impl::unlockShare);
    curl_share_setopt(share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    multi = curl_multi_init();
    waker->multi = multi;
    network = std::thread([this] { runNetwork(); });
  }

  ~Impl() {
    {
      std::lock_guard<std::mutex> lock(queueMutex);
      stopping = true;
    }
    curl_multi_wakeup(multi);
    network.join();
    {
      std::lock_guard<std::mutex> lock(waker->mutex);
      waker->multi = nullptr;
    }
    curl_multi_cleanup(multi);
    for (CURL* h : idleHandles) curl_easy_cleanup(h);
    curl_share_cleanup(share);
  }

  CURL* takeHandle() {
    {
      std::lock_guard<std::mutex> lock(poolMutex);
      if (!idleHandles.empty()) {
        CURL* h = idleHandles.back();
        idleHandles.pop_back();
        curl_easy_reset(h);
        return h;
      }
    }
    return curl_easy_init();
  }

  void returnHandle(CURL* h) {
    std::lock_guard<std::mutex> lock(poolMutex);
    idleHandles.push_back(h);
  }

  void configure(Exchange& x) {
    const HttpRequest& r = x.request;
    CURL* h = x.easy;
    x.timeout = r.timeout > 0 ? r.timeout : 240;
    x.lastActivity = steadyNow();
    curl_easy_setopt(h, CURLOPT_SHARE, share);
    curl_easy_setopt(h, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, x.errorBuffer);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, options.caFile.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(x.timeout * 1000));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &x);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &x);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &x);

    bool hasContentType = false;
    for (const auto& [name, value] : r.headers) {
      x.headers = curl_slist_append(x.headers, (name + ": " + value).c_str());
      if (name == "Content-Type") hasContentType = true;
    }
    // No "Expect: 100-continue" round trip, and no form content type that
    // the request did not ask for.
    x.headers = curl_slist_append(x.headers, "Expect:");
    if (!hasContentType) x.headers = curl_slist_append(x.headers, "Content-Type:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, x.headers);

    bool sendsBody = r.bodyStream || !r.body.empty() || r.method == "POST" || r.method == "PUT";
    if (r.method == "GET" && !sendsBody) {
      curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (sendsBody) {
      curl_easy_setopt(h, CURLOPT_POST, 1L);
      if (r.bodyStream) {
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &onRead);
        curl_easy_setopt(h, CURLOPT_READDATA, &x);
      } else {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, r.body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
      }
      if (r.method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, r.method.c_str());
    } else {
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, r.method.c_str());
    }
  }

  HttpResult perform(const HttpRequest& request) {
    Exchange x;
    x.request = request;
    x.easy = takeHandle();
    HttpResult result;
    if (!x.easy) {
      result.error = makeTransportError(kHttpTransportErrorDomain, CURLE_FAILED_INIT, "No HTTP handle");
      return result;
    }
    configure(x);
    CURLcode code = curl_easy_perform(x.easy);
    curl_easy_getinfo(x.easy, CURLINFO_RESPONSE_CODE, &result.status);
    result.body = std::move(x.body);
    if (code != CURLE_OK) result.error = errorFor(x, code);
    returnHandle(x.easy);
    return result;
  }

  std::shared_ptr<HttpTask> start(const HttpRequest& request, HttpEvents events) {
    auto x = std::make_unique<Exchange>();
    x->request = request;
    x->async = true;
    x->events = std::move(events);
    x->wakeNetwork = [w = std::weak_ptr<Waker>(waker)] {
      if (auto strong = w.lock()) strong->wake();
    };
    auto task = std::make_shared<CurlTask>(x->cancelled, [w = std::weak_ptr<Waker>(waker)] {
      if (auto strong = w.lock()) strong->wake();
    });
    {
      std::lock_guard<std::mutex> lock(queueMutex);
      incoming.push_back(std::move(x));
    }
    curl_multi_wakeup(multi);
    return task;
  }

  void finish(Exchange& x, CURLcode code) {
    if (x.cancelled->load()) return;
    if (code == CURLE_OK) {
      x.postResponse();
      if (x.events.completion) x.post(x.events.completion);
    } else if (x.events.failure) {
      auto cb = x.events.failure;
      x.post([cb, e = errorFor(x, code)] { cb(e); });
    }
  }

  void runNetwork() {
    std::vector<std::unique_ptr<Exchange>> running;
    auto release = [this](Exchange& x) {
      curl_multi_remove_handle(multi, x.easy);
      returnHandle(x.easy);
      x.easy = nullptr;
    };
    for (;;) {
      std::vector<std::unique_ptr<Exchange>> added;
      {
        std::lock_guard<std::mutex> lock(queueMutex);
        if (stopping) break;
        added.swap(incoming);
      }
      for (auto& x : added) {
        x->easy = takeHandle();
        if (!x->easy) {
          finish(*x, CURLE_FAILED_INIT);
          continue;
        }
        configure(*x);
        curl_multi_add_handle(multi, x->easy);
        running.push_back(std::move(x));
      }
      // Cancelled exchanges leave at once.
      for (auto it = running.begin(); it != running.end();) {
        if ((*it)->cancelled->load()) {
          release(**it);
          it = running.erase(it);
        } else {
          ++it;
        }
      }
      for (auto& x : running) {
        if (x->paused && x->pendingBytes->load() <= kPendingResume) {
          x->paused = false;
          curl_easy_pause(x->easy, CURLPAUSE_CONT);
        }
      }
      int active = 0;
      curl_multi_perform(multi, &active);
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg != CURLMSG_DONE) continue;
        for (auto it = running.begin(); it != running.end(); ++it) {
          if ((*it)->easy != msg->easy_handle) continue;
          CURLcode code = msg->data.result;
          Exchange& x = **it;
          finish(x, code);
          release(x);
          running.erase(it);
          break;
        }
      }
      curl_multi_poll(multi, nullptr, 0, running.empty() ? 1000 : 100, nullptr);
    }
    for (auto& x : running) release(*x);
  }
};

CurlTransport::CurlTransport(CurlTransportOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
CurlTransport::~CurlTransport() = default;

HttpResult CurlTransport::perform(const HttpRequest& request) { return impl_->perform(request); }

std::shared_ptr<HttpTask> CurlTransport::start(const HttpRequest& request, HttpEvents events) {
  return impl_->start(request, std::move(events));
}

namespace {
std::mutex gTransportMutex;
std::shared_ptr<HttpTransport> gTransport;  // guarded by gTransportMutex
}  // namespace

std::shared_ptr<HttpTransport> HttpTransport::current() {
  std::lock_guard<std::mutex> lock(gTransportMutex);
  if (!gTransport) gTransport = std::make_shared<CurlTransport>();
  return gTransport;
}

void HttpTransport::install(std::shared_ptr<HttpTransport> transport) {
  std::lock_guard<std::mutex> lock(gTransportMutex);
  gTransport = std::move(transport);
}

}  // namespace greyfox
