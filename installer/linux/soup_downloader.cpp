#include "installer/linux/soup_downloader.h"

#include <optional>
#include <utility>

namespace vq::installer {
namespace {

using host::ErrorPtr;
using host::GCharPtr;
using host::GObjectPtr;

// Shared by the download's handle and its pending asynchronous calls, which
// may finish after the handle is gone: they then find no delegate and stop.
struct Transfer {
    DownloadDelegate* delegate = nullptr;
    Download* handle = nullptr;
    GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    GObjectPtr<GInputStream> input;
    std::optional<std::string> destination;
    bool allowOverwrite = false;
    GObjectPtr<GOutputStream> output;
    std::unique_ptr<GBytes, decltype(&g_bytes_unref)> chunk{nullptr, &g_bytes_unref};  // being written
    std::uint64_t received = 0;
    std::uint64_t maxBytes = 0;
};
using TransferPtr = std::shared_ptr<Transfer>;

// The user data of one asynchronous call: a reference to the transfer.
gpointer hold(const TransferPtr& transfer) { return new TransferPtr(transfer); }
TransferPtr release(gpointer data) {
    std::unique_ptr<TransferPtr> held(static_cast<TransferPtr*>(data));
    return *held;
}

class TransferHandle : public Download {
public:
    explicit TransferHandle(TransferPtr transfer) : transfer_(std::move(transfer)) {}
    ~TransferHandle() override { cancel(); }
    void setDestination(const std::string& path, bool allowOverwrite) override {
        transfer_->destination = path;
        transfer_->allowOverwrite = allowOverwrite;
    }
    void cancel() override {
        transfer_->delegate = nullptr;
        g_cancellable_cancel(transfer_->cancellable.get());
    }

private:
    TransferPtr transfer_;
};

void fail(const TransferPtr& transfer, const std::string& description) {
    if (auto* delegate = std::exchange(transfer->delegate, nullptr))
        delegate->didFailWithError(*transfer->handle, description);
}

constexpr gsize kChunkBytes = 64 * 1024;

void readNext(const TransferPtr& transfer);

void onWritten(GObject* source, GAsyncResult* result, gpointer data) {
    const TransferPtr transfer = release(data);
    GError* raw = nullptr;
    g_output_stream_write_all_finish(G_OUTPUT_STREAM(source), result, nullptr, &raw);
    ErrorPtr error(raw);
    transfer->chunk.reset();
    if (!transfer->delegate) return;
    if (error) return fail(transfer, error->message);
    readNext(transfer);
}

void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    const TransferPtr transfer = release(data);
    GError* raw = nullptr;
    transfer->chunk.reset(g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &raw));
    ErrorPtr error(raw);
    if (!transfer->delegate) return;
    if (error) return fail(transfer, error->message);
    const gsize size = g_bytes_get_size(transfer->chunk.get());
    if (size == 0) {
        g_input_stream_close(transfer->input.get(), nullptr, nullptr);
        if (!g_output_stream_close(transfer->output.get(), nullptr, &raw)) {
            ErrorPtr closeError(raw);
            return fail(transfer, closeError->message);
        }
        return std::exchange(transfer->delegate, nullptr)->downloadDidFinish(*transfer->handle);
    }
    transfer->received += size;
    if (transfer->received > transfer->maxBytes) {
        g_cancellable_cancel(transfer->cancellable.get());
        GObjectPtr<GFile> partial(g_file_new_for_path(transfer->destination->c_str()));
        g_file_delete(partial.get(), nullptr, nullptr);
        return fail(transfer, "the archive is larger than " + std::to_string(transfer->maxBytes) + " bytes");
    }
    g_output_stream_write_all_async(transfer->output.get(), g_bytes_get_data(transfer->chunk.get(), nullptr), size,
                                    G_PRIORITY_DEFAULT, transfer->cancellable.get(), &onWritten, hold(transfer));
}

void readNext(const TransferPtr& transfer) {
    g_input_stream_read_bytes_async(transfer->input.get(), kChunkBytes, G_PRIORITY_DEFAULT,
                                    transfer->cancellable.get(), &onRead, hold(transfer));
}

void onOutputOpened(GObject* source, GAsyncResult* result, gpointer data) {
    const TransferPtr transfer = release(data);
    GError* raw = nullptr;
    GObjectPtr<GFileOutputStream> output(transfer->allowOverwrite
                                             ? g_file_replace_finish(G_FILE(source), result, &raw)
                                             : g_file_create_finish(G_FILE(source), result, &raw));
    ErrorPtr error(raw);
    if (!transfer->delegate) return;
    if (error) return fail(transfer, error->message);
    transfer->output.reset(G_OUTPUT_STREAM(output.release()));
    readNext(transfer);
}

// The body is ready to be read: the delegate picks the file it goes to.
void receive(const TransferPtr& transfer, GInputStream* input, const std::string& suggestedFilename) {
    transfer->input.reset(input);
    transfer->delegate->decideDestination(*transfer->handle, suggestedFilename);
    if (!transfer->delegate || !transfer->destination) return;
    GObjectPtr<GFile> file(g_file_new_for_path(transfer->destination->c_str()));
    if (transfer->allowOverwrite) {
        g_file_replace_async(file.get(), nullptr, FALSE, G_FILE_CREATE_REPLACE_DESTINATION, G_PRIORITY_DEFAULT,
                             transfer->cancellable.get(), &onOutputOpened, hold(transfer));
    } else {
        g_file_create_async(file.get(), G_FILE_CREATE_NONE, G_PRIORITY_DEFAULT, transfer->cancellable.get(),
                            &onOutputOpened, hold(transfer));
    }
}

// The last segment of a URL path, never a name that leaves the folder.
std::string suggestedName(const char* path) {
    GCharPtr base(g_path_get_basename(path && *path ? path : "/"));
    const std::string name = base.get();
    if (name.empty() || name == "/" || name == "." || name == "..") return "download";
    return name;
}

void onFileOpened(GObject* source, GAsyncResult* result, gpointer data) {
    const TransferPtr transfer = release(data);
    GError* raw = nullptr;
    GObjectPtr<GFileInputStream> input(g_file_read_finish(G_FILE(source), result, &raw));
    ErrorPtr error(raw);
    if (!transfer->delegate) return;
    if (error) return fail(transfer, error->message);
    GCharPtr path(g_file_get_path(G_FILE(source)));
    receive(transfer, G_INPUT_STREAM(input.release()), suggestedName(path.get()));
}

void onSent(GObject* source, GAsyncResult* result, gpointer data) {
    const TransferPtr transfer = release(data);
    GError* raw = nullptr;
    GObjectPtr<GInputStream> input(soup_session_send_finish(SOUP_SESSION(source), result, &raw));
    ErrorPtr error(raw);
    if (!transfer->delegate) return;
    if (error) return fail(transfer, error->message);
    SoupMessage* message = soup_session_get_async_result_message(SOUP_SESSION(source), result);
    const guint status = soup_message_get_status(message);
    // An error page is not the archive: the status is the error, in libsoup's words.
    if (!SOUP_STATUS_IS_SUCCESSFUL(status)) return fail(transfer, soup_status_get_phrase(status));
    // After redirects the message's URI is the one the body came from.
    receive(transfer, input.release(), suggestedName(g_uri_get_path(soup_message_get_uri(message))));
}

struct LateFailure {
    TransferPtr transfer;
    std::string description;
};

void failLater(const TransferPtr& transfer, const std::string& description) {
    GSource* idle = g_idle_source_new();
    g_source_set_callback(
        idle,
        [](gpointer data) -> gboolean {
            auto* late = static_cast<LateFailure*>(data);
            fail(late->transfer, late->description);
            return G_SOURCE_REMOVE;
        },
        new LateFailure{transfer, description}, [](gpointer data) { delete static_cast<LateFailure*>(data); });
    // Attached, the source lives until it has run; our reference goes now.
    g_source_attach(idle, g_main_context_get_thread_default());
    g_source_unref(idle);
}

}  // namespace

SoupDownloader::SoupDownloader(std::uint64_t maxBytes)
    : session_(soup_session_new_with_options("timeout", 60u, "idle-timeout", 60u, "user-agent",
                                             "velquette-module-installer", nullptr)),
      maxBytes_(maxBytes) {}

std::unique_ptr<Download> SoupDownloader::start(const std::string& url, DownloadDelegate& delegate) {
    auto transfer = std::make_shared<Transfer>();
    transfer->delegate = &delegate;
    transfer->maxBytes = maxBytes_;
    auto handle = std::make_unique<TransferHandle>(transfer);
    transfer->handle = handle.get();

    GError* raw = nullptr;
    const std::unique_ptr<GUri, decltype(&g_uri_unref)> uri(
        g_uri_parse(url.c_str(), GUriFlags(SOUP_HTTP_URI_FLAGS), &raw), &g_uri_unref);
    const ErrorPtr error(raw);
    const std::string scheme = uri ? g_uri_get_scheme(uri.get()) : "";
    if (scheme == "file") {
        GObjectPtr<GFile> file(g_file_new_for_uri(url.c_str()));
        g_file_read_async(file.get(), G_PRIORITY_DEFAULT, transfer->cancellable.get(), &onFileOpened,
                          hold(transfer));
    } else if (scheme == "http" || scheme == "https") {
        GObjectPtr<SoupMessage> message(soup_message_new_from_uri("GET", uri.get()));
        soup_session_send_async(session_.get(), message.get(), G_PRIORITY_DEFAULT, transfer->cancellable.get(),
                                &onSent, hold(transfer));
    } else {
        // An unusable URL fails on the main loop like any other download
        // error, never inside this call, with GLib's own words where it has any.
        failLater(transfer, error ? error->message : "Unsupported URI scheme \"" + scheme + "\"");
    }
    return handle;
}

}  // namespace vq::installer
