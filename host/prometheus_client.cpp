#include "host/prometheus_client.h"

#include <nlohmann/json.hpp>

namespace vq::host {

// What a round's requests share: the caller's callback, the answers, and
// the cancellables that stop every request when one fails or the client goes.
struct PrometheusClient::Round {
    std::function<void(RoundResult)> done;
    std::vector<std::string> bodies;
    std::string failure;
    std::size_t pending = 0;
    std::vector<GObjectPtr<GCancellable>> cancellables;

    void cancelAll() {
        for (auto& cancellable : cancellables) g_cancellable_cancel(cancellable.get());
    }
    void finishOne() {
        if (--pending != 0 || !done) return;
        auto call = std::move(done);
        done = nullptr;
        if (failure.empty())
            call(std::move(bodies));
        else
            call(failure);
    }
};

// One query in flight; it deletes itself when its answer is read or it fails.
struct PrometheusClient::Request {
    std::shared_ptr<Round> round;
    std::size_t index = 0;
    GCancellable* cancellable = nullptr;  // owned by the round
    GObjectPtr<SoupMessage> message;
    GObjectPtr<GInputStream> stream;
    std::string body;
    SourcePtr timer;
    bool timedOut = false;

    static gboolean onTimeout(gpointer self) {
        auto* request = static_cast<Request*>(self);
        request->timedOut = true;
        g_cancellable_cancel(request->cancellable);
        return G_SOURCE_REMOVE;
    }

    static void onSent(GObject* session, GAsyncResult* result, gpointer self) {
        auto* request = static_cast<Request*>(self);
        GError* error = nullptr;
        GInputStream* stream = soup_session_send_finish(SOUP_SESSION(session), result, &error);
        if (!stream) return request->fail(ErrorPtr(error), "cannot reach Prometheus: ");
        request->stream.reset(stream);
        request->readMore();
    }

    void readMore() {
        g_input_stream_read_bytes_async(stream.get(), 64 * 1024, G_PRIORITY_DEFAULT, cancellable, &Request::onRead,
                                        this);
    }

    static void onRead(GObject* stream, GAsyncResult* result, gpointer self) {
        auto* request = static_cast<Request*>(self);
        GError* error = nullptr;
        BytesPtr bytes(g_input_stream_read_bytes_finish(G_INPUT_STREAM(stream), result, &error));
        if (!bytes) return request->fail(ErrorPtr(error), "Prometheus' answer broke off: ");
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
        if (size == 0) return request->complete();
        if (request->body.size() + size > kAnswerLimit)
            return request->finish("Prometheus' answer is over 4 MiB; it was cut off");
        request->body.append(data, size);
        request->readMore();
    }

    void complete() {
        const unsigned status = soup_message_get_status(message.get());
        if (status == SOUP_STATUS_OK) {
            round->bodies[index] = std::move(body);
            return finish("");
        }
        // Prometheus explains a refused query in JSON; a proxy or its web
        // configuration's authentication answers with a status alone.
        const auto answer = nlohmann::json::parse(body, nullptr, false);
        const char* phrase = soup_message_get_reason_phrase(message.get());
        std::string reason = "Prometheus answered HTTP " + std::to_string(status) + " " + (phrase ? phrase : "");
        if (answer.is_object() && answer.contains("error") && answer["error"].is_string())
            reason += ": " + answer["error"].get<std::string>().substr(0, 200);
        finish(reason);
    }

    void fail(ErrorPtr error, const std::string& prefix) {
        if (timedOut) return finish("no answer from Prometheus within " + std::to_string(kRequestLimit.count()) + " s");
        // Stopped because another request of the round failed, or the client went: that one says why.
        if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return finish("");
        finish(prefix + error->message);
    }

    void finish(const std::string& reason) {
        if (!reason.empty() && round->failure.empty()) {
            round->failure = reason;
            round->cancelAll();
        }
        auto shared = std::move(round);
        delete this;
        shared->finishOne();
    }
};

namespace {

// A secret file's text without its final line break; nullopt when unreadable.
std::optional<std::string> readSecret(const std::string& path, std::string& reason) {
    gchar* text = nullptr;
    gsize length = 0;
    GError* raw = nullptr;
    if (!g_file_get_contents(path.c_str(), &text, &length, &raw)) {
        ErrorPtr error(raw);
        reason = std::string("cannot read the Prometheus credentials: ") + error->message;
        return std::nullopt;
    }
    GCharPtr owned(text);
    std::string secret(text, length);
    while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r')) secret.pop_back();
    return secret;
}

// The Authorization header the settings ask for: "" for none; nullopt with `reason` when a file is unreadable.
std::optional<std::string> authorization(const PrometheusSettings& settings, std::string& reason) {
    if (!settings.username.empty()) {
        std::string password;
        if (!settings.passwordFile.empty()) {
            auto secret = readSecret(settings.passwordFile, reason);
            if (!secret) return std::nullopt;
            password = *secret;
        }
        const std::string pair = settings.username + ":" + password;
        GCharPtr encoded(g_base64_encode(reinterpret_cast<const guchar*>(pair.data()), pair.size()));
        return std::string("Basic ") + encoded.get();
    }
    if (!settings.bearerTokenFile.empty()) {
        auto token = readSecret(settings.bearerTokenFile, reason);
        if (!token) return std::nullopt;
        return "Bearer " + *token;
    }
    return "";
}

}  // namespace

PrometheusClient::PrometheusClient(PrometheusSettings settings)
    : settings_(std::move(settings)),
      // No proxy: Prometheus is reached directly, as its scrape targets are.
      session_(soup_session_new_with_options("timeout", guint(kRequestLimit.count()), "max-conns-per-host", 16,
                                             "proxy-resolver", nullptr, "user-agent", "velquette", nullptr)) {
    while (!settings_.url.empty() && settings_.url.back() == '/') settings_.url.pop_back();
}

PrometheusClient::~PrometheusClient() {
    if (!round_) return;
    round_->done = nullptr;
    round_->cancelAll();
}

void PrometheusClient::queryAll(const std::vector<std::string>& expressions, std::function<void(RoundResult)> done) {
    if (round_) {
        round_->done = nullptr;
        round_->cancelAll();
    }
    std::string reason;
    const auto header = authorization(settings_, reason);
    if (!header) return done(reason);
    round_ = std::make_shared<Round>();
    round_->done = std::move(done);
    round_->bodies.resize(expressions.size());
    round_->pending = expressions.size();
    for (std::size_t i = 0; i < expressions.size(); ++i) {
        GCharPtr escaped(g_uri_escape_string(expressions[i].c_str(), nullptr, FALSE));
        const std::string url = settings_.url + "/api/v1/query?query=" + escaped.get();
        auto* request = new Request;
        request->round = round_;
        request->index = i;
        request->message.reset(soup_message_new("GET", url.c_str()));
        round_->cancellables.emplace_back(g_cancellable_new());
        request->cancellable = round_->cancellables.back().get();
        if (!header->empty())
            soup_message_headers_replace(soup_message_get_request_headers(request->message.get()), "Authorization",
                                         header->c_str());
        request->timer.reset(g_timeout_source_new(guint(std::chrono::milliseconds(kRequestLimit).count())));
        g_source_set_callback(request->timer.get(), &Request::onTimeout, request, nullptr);
        g_source_attach(request->timer.get(), g_main_context_get_thread_default());
        soup_session_send_async(session_.get(), request->message.get(), G_PRIORITY_DEFAULT, request->cancellable,
                                &Request::onSent, request);
    }
}

}  // namespace vq::host
