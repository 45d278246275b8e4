#include "platform/host/change_uploader.hpp"

#include <algorithm>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/support/thread_annotations.hpp"
#include "core/support/work_pool.hpp"
#include "platform/host/upload_outcome.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {

namespace fs = std::filesystem;
using fileprovider::BasicItem;
using fileprovider::Error;
using fileprovider::ItemFields;
using fileprovider::ItemPtr;
using fileprovider::Progress;

namespace {


/// How long the scheduler sleeps with nothing due: woken by any change.
constexpr auto kNothingDue = std::chrono::hours(24);
constexpr auto kAttemptListingWait = std::chrono::seconds(30);

bool sendsContents(const OutgoingChange& outgoing) {
    const LocalChange bits = outgoing.change.sending;
    if (contains(bits, LocalChange::deletion)) return false;
    if (contains(bits, LocalChange::creation)) return !outgoing.change.isFolder;
    return contains(bits, LocalChange::contents);
}

ItemFields fieldsOf(LocalChange bits, bool withContents) {
    ItemFields fields = ItemFields::none;
    if (contains(bits, LocalChange::creation)) fields = ItemFields::filename | ItemFields::parentItemIdentifier;
    if (contains(bits, LocalChange::filename)) fields |= ItemFields::filename;
    if (contains(bits, LocalChange::parent)) fields |= ItemFields::parentItemIdentifier;
    if (withContents) fields |= ItemFields::contents;
    return fields;
}

}  // namespace

/// Closes the door on completions that arrive after the uploader is gone:
/// they hold the gate, never the uploader.
struct UploadGate {
    Mutex mutex;
    std::condition_variable_any changed;
    bool closed CADRIO_GUARDED_BY(mutex) = false;
    int completing CADRIO_GUARDED_BY(mutex) = 0;
};

class ChangeUploader::Impl {
public:
    Impl(fileprovider::ExtensionPtr extension, Replica& replica, WorkingCopies& copies, ContentCache& cache,
         SyncEngine& engine, NoticeSink& notices, UploadObserver& observer, Clock& clock, Options options)
        : extension_(std::move(extension)),
          replica_(replica),
          copies_(copies),
          cache_(cache),
          engine_(engine),
          notices_(notices),
          observer_(observer),
          clock_(clock),
          options_(std::move(options)),
          pool_(std::max(1u, options_.concurrency)) {
        scheduler_ = std::thread([this] { schedule(); });
    }

    ~Impl() { shutdown(); }

    void start(const std::vector<Inode>& leftInFlight) {
        const std::unordered_set<Inode> inDoubt(leftInFlight.begin(), leftInFlight.end());
        std::vector<PendingChange> records;
        try {
            records = replica_.pendingChanges();
        } catch (const std::exception& failure) {
            hostLogger().error("File des changements illisible : {}", std::string(failure.what()));
        }
        {
            LockGuard lock(mutex_);
            const Clock::TimePoint now = clock_.now();
            for (const PendingChange& record : records) {
                if (record.refusal || record.queued == LocalChange::none) continue;
                if (inDoubt.contains(record.inode) && isModification(record.queued | record.sending))
                    changesMaybeLanded_.insert(record.inode);
                due(record.inode, record.sequence, inDoubt.contains(record.inode) ? now + options_.landingGrace : now);
            }
            wakeLocked();
        }
        reportPending();
    }

    void changed(Inode inode) {
        std::optional<PendingChange> record;
        try {
            record = replica_.pendingChange(inode);
        } catch (const std::exception& failure) {
            hostLogger().error("File des changements illisible : {}", std::string(failure.what()));
        }
        if (record && record->queued != LocalChange::none) {
            LockGuard lock(mutex_);
            due(inode, record->sequence, clock_.now() + options_.settleDelay);
            wakeLocked();
        }
        reportPending();
    }

    void pause() {
        std::vector<std::shared_ptr<Progress>> running;
        {
            LockGuard lock(mutex_);
            paused_ = true;
            wakeLocked();
            for (const auto& [inode, send] : sends_) {
                if (send.progress) running.push_back(send.progress);
            }
        }
        for (const auto& progress : running) progress->cancel();
    }

    void resume() {
        LockGuard lock(mutex_);
        paused_ = false;
        wakeLocked();
    }

    TransferProgress progress() const {
        std::vector<std::pair<std::int64_t, std::shared_ptr<Progress>>> running;
        {
            LockGuard lock(mutex_);
            for (const auto& [inode, send] : sends_) running.emplace_back(send.size, send.progress);
        }
        TransferProgress total;
        total.finished = running.empty();
        for (const auto& [size, progress] : running) {
            total.totalBytes += size;
            if (progress) total.completedBytes += static_cast<std::int64_t>(progress->fractionCompleted() * size);
        }
        return total;
    }

    void whenIdle(std::function<void()> done) {
        {
            LockGuard lock(mutex_);
            if (!idleLocked()) {
                idleWaiters_.push_back(std::move(done));
                return;
            }
        }
        done();
    }

private:
    struct Due {
        Clock::TimePoint at;
        std::int64_t sequence = 0;
        /// Waiting for a retry after a failure: not counted as pending work.
        bool retry = false;
    };
    struct Send {
        std::shared_ptr<Progress> progress;
        std::int64_t size = 0;
        std::int64_t sequence = 0;
    };
    /// One send from its start to its answer, shared with its completion.
    struct Attempt {
        Inode inode = 0;
        fileprovider::ItemIdentifier identifier = fileprovider::ItemIdentifier::rootContainer();
        LocalChange bits = LocalChange::none;
        bool withContents = false;
        bool mayAlreadyExist = false;  // a creation whose last attempt's answer was lost
        bool mayHaveLanded = false;    // a modification whose last attempt's answer was lost
        bool answered = false;         // guarded by the gate's mutex
    };

    // ---- Scheduling -------------------------------------------------------

    void due(Inode inode, std::int64_t sequence, Clock::TimePoint at) CADRIO_REQUIRES(mutex_) {
        auto [slot, added] = schedule_.try_emplace(inode, Due{at, sequence, false});
        if (added) return;
        // A change while waiting for a retry keeps the back-off: offline
        // edits must not turn into one attempt each.
        slot->second.at = std::max(slot->second.at, at);
        slot->second.sequence = sequence;
    }

    void wakeLocked() CADRIO_REQUIRES(mutex_) {
        planned_ = false;
        wake_.request_stop();
        wake_ = std::stop_source();
    }

    bool idleLocked() const CADRIO_REQUIRES(mutex_) {
        if (!planned_ || !sends_.empty()) return false;
        // Paused, nothing due goes out: a sleeping machine waits for nothing.
        if (paused_) return true;
        return std::all_of(schedule_.begin(), schedule_.end(), [](const auto& entry) { return entry.second.retry; });
    }

    std::vector<std::function<void()>> takeIdleWaitersLocked() CADRIO_REQUIRES(mutex_) {
        if (!idleLocked()) return {};
        return std::exchange(idleWaiters_, {});
    }

    /// The due changes to send now, oldest record first, marked in flight.
    std::vector<Inode> pickLocked(Clock::TimePoint now, Clock::TimePoint& next) CADRIO_REQUIRES(mutex_) {
        next = now + kNothingDue;
        std::vector<std::pair<std::int64_t, Inode>> ready;
        for (const auto& [inode, slot] : schedule_) {
            if (sends_.contains(inode)) continue;
            if (slot.at > now) {
                next = std::min(next, slot.at);
            } else {
                ready.emplace_back(slot.sequence, inode);
            }
        }
        std::sort(ready.begin(), ready.end());
        std::vector<Inode> picked;
        for (const auto& entry : ready) {
            if (paused_ || sends_.size() >= std::max(1u, options_.concurrency)) break;
            schedule_.erase(entry.second);
            sends_.emplace(entry.second, Send{nullptr, 0, entry.first});
            picked.push_back(entry.second);
        }
        return picked;
    }

    void schedule() {
        for (;;) {
            std::vector<Inode> picked;
            Clock::TimePoint next;
            std::stop_token woken;
            std::vector<std::function<void()>> idle;
            {
                LockGuard lock(mutex_);
                if (stopping_) return;
                picked = pickLocked(clock_.now(), next);
                woken = wake_.get_token();
                // Idle is told from here only, once the next wake-up is
                // planned: nothing changed since, so the plan is final.
                if (picked.empty()) {
                    planned_ = true;
                    idle = takeIdleWaitersLocked();
                }
            }
            for (const Inode inode : picked) pool_.submit([this, inode] { send(inode); });
            for (const auto& callback : idle) callback();
            if (picked.empty()) clock_.sleepUntil(next, woken);
        }
    }

    // ---- Sending ----------------------------------------------------------

    void send(Inode inode) {
        {
            LockGuard lock(mutex_);
            if (stopping_) return;
        }
        try {
            sendNow(inode);
        } catch (const std::exception& failure) {
            hostLogger().error("Changement local non envoyé : {}", std::string(failure.what()));
            ended(inode, true);
        }
    }

    void sendNow(Inode inode) {
        if (takeMoveInDoubt(inode) && !settleMoveInDoubt(inode)) return;
        if (!refreshBeforeResend(inode)) return ended(inode, true);
        refreshBeforeDeletion(inode);
        std::optional<OutgoingChange> outgoing = replica_.beginSending(inode);
        if (!outgoing) {
            // Nothing to send now, or it waits for its parent's creation,
            // which reschedules it. A parent the replica made a creation of
            // by itself (a folder the drive deleted) is due from now on.
            if (const std::optional<ReplicaEntry> entry = replica_.entry(inode)) requeue(entry->parentInode);
            ended(inode, false);
            const std::optional<PendingChange> record = replica_.pendingChange(inode);
            // Settled without a send (a removed attempt that never reached
            // the drive): a change that waited for its name may go.
            if (!record) return rescheduleWaiting();
            // An editor's save gave this file the record of the original,
            // whose send is still on its way: looked at again shortly.
            if (record->sending != LocalChange::none) {
                LockGuard lock(mutex_);
                if (sends_.contains(inode)) return;
                due(inode, record->sequence, clock_.now() + retryDelay(options_.retrySchedule, 1));
                wakeLocked();
            }
            return;
        }
        auto attempt = std::make_shared<Attempt>();
        attempt->inode = inode;
        attempt->identifier = outgoing->item.identifier;
        attempt->bits = outgoing->change.sending;
        attempt->mayAlreadyExist = outgoing->change.mayAlreadyExist;
        attempt->mayHaveLanded = maybeLanded(inode);
        std::optional<fs::path> contents;
        if (sendsContents(*outgoing)) {
            contents = bytesToSend(*outgoing);
            if (!contents && copies_.isBeingWritten(inode)) {
                // Opened again since it settled: its last writer's close
                // queues it anew.
                replica_.failSending(inode, std::nullopt);
                ended(inode, false);
                return;
            }
            attempt->withContents = contents.has_value();
        }
        hostLogger().debug("Envoi de {} (changements {}{})", attempt->identifier.rawValue(),
                           static_cast<std::uint32_t>(attempt->bits),
                           outgoing->change.mayAlreadyExist ? ", peut-être déjà sur le Cadrio" : "");
        call(*outgoing, attempt, contents);
    }

    /// A creation that may have reached the drive goes again, or its
    /// deletion goes, only once the working set shows what the drive holds.
    /// False when the working set or its folder could not be read: the
    /// plug-in looks there for what the attempt left (in the folder, or
    /// wherever another device moved it), and without it would make a
    /// second file (or leave the first one standing).
    bool refreshBeforeResend(Inode inode) {
        const std::optional<PendingChange> record = replica_.pendingChange(inode);
        if (!record || !record->mayAlreadyExist) return true;
        if (!contains(record->queued, LocalChange::creation) && !contains(record->queued, LocalChange::deletion))
            return true;
        waitForWorkingSet();
        if (!engine_.workingSetCurrent()) {
            hostLogger().error("Changements du Cadrio illisibles, envoi reporté : il est peut-être déjà sur le Cadrio");
            return false;
        }
        // The attempt may have come in a change page before a restart, and
        // what is held back of it was in memory only: its folder listed
        // again shows it once more, and it is never left unseen.
        const std::optional<ReplicaEntry> folder = replica_.entry(record->baseParent);
        if (!folder) return true;
        const std::optional<fileprovider::Error> failure =
            engine_.listFolder(folder->inode, clock_.now() + kAttemptListingWait, true);
        // A folder gone from the drive took the attempt with it: the send
        // meets that and is sorted out as any other.
        if (!failure || classifyUploadFailure(*failure) == UploadFailure::noSuchItem) return true;
        hostLogger().error("Dossier illisible, envoi reporté : il est peut-être déjà sur le Cadrio");
        return false;
    }

    /// A file's deletion goes once the working set is current: the plug-in
    /// trashes nothing another device changed or moved since the host saw
    /// it (out of a folder removed here a moment before, say), and it can
    /// only tell once it has heard of that change. A deletion waited for
    /// its settle delay, so a refresh begun since then and ended covers it:
    /// the files of one `rm -r` share a few refreshes.
    void refreshBeforeDeletion(Inode inode) {
        const std::optional<PendingChange> record = replica_.pendingChange(inode);
        if (!record || record->isFolder || !contains(record->queued, LocalChange::deletion)) return;
        const std::optional<ReplicaEntry> entry = replica_.entry(inode);
        if (entry && isProvisional(entry->identifier)) return;
        const Clock::TimePoint now = clock_.now();
        {
            LockGuard lock(mutex_);
            if (refreshedFrom_ >= now - options_.settleDelay) return;
        }
        waitForWorkingSet();
        LockGuard lock(mutex_);
        refreshedFrom_ = std::max(refreshedFrom_, now);
    }

    bool takeMoveInDoubt(Inode inode) {
        LockGuard lock(mutex_);
        return movesInDoubt_.erase(inode) > 0;
    }

    /// A move the drive answered "no such item" for: the item is gone, or
    /// the folder it went into is. Once the working set is current, the
    /// plug-in knows which: a folder gone was made a creation here (the
    /// move waits for it), an item gone is forgotten. False when neither
    /// shows yet and the attempt ends with a back-off.
    bool settleMoveInDoubt(Inode inode) {
        waitForWorkingSet();
        const std::optional<ReplicaEntry> entry = replica_.entry(inode);
        if (!entry || isProvisional(entry->parentIdentifier)) return true;
        if (!pluginKnows(entry->identifier)) {
            if (!takeMaybeLanded(inode)) keepCachedBytes(inode);
            notices_.post(replica_.forgetRemoteItem(inode));
            return true;
        }
        if (pluginKnows(entry->parentIdentifier)) return true;
        {
            LockGuard lock(mutex_);
            movesInDoubt_.insert(inode);
        }
        engine_.signal();
        ended(inode, true);
        return false;
    }

    /// Whether the last attempt of a change to `inode` may have reached the
    /// drive although it failed. The drive's "no such item" then most
    /// likely means another device removed the item after the change
    /// landed: for a rename or move, the user's bytes are in the drive's
    /// trash as they were, and making the file again would bring back what
    /// that device removed.
    bool takeMaybeLanded(Inode inode) {
        LockGuard lock(mutex_);
        missedInDoubt_.erase(inode);
        return changesMaybeLanded_.erase(inode) > 0;
    }

    bool maybeLanded(Inode inode) {
        LockGuard lock(mutex_);
        return changesMaybeLanded_.contains(inode);
    }

    /// True the first time bytes that may have landed meet "no such item":
    /// the change page that says the drive withdrew them may not be in
    /// yet, and once it is, the plug-in answers with what landed instead
    /// of the file being made again.
    bool firstMissInDoubt(Inode inode) {
        LockGuard lock(mutex_);
        return missedInDoubt_.insert(inode).second;
    }

    static bool isModification(LocalChange bits) {
        return bits != LocalChange::none && !contains(bits, LocalChange::creation) &&
               !contains(bits, LocalChange::deletion);
    }

    void noteMaybeLanded(const Attempt& attempt) {
        if (!isModification(attempt.bits)) return;
        LockGuard lock(mutex_);
        changesMaybeLanded_.insert(attempt.inode);
    }

    /// The drive lost a file the user moved or renamed here: the bytes the
    /// cache holds of it become its local contents, so that it is created
    /// anew with them rather than lost (a file with contents written here is
    /// created anew in any case, one known by name only goes).
    void keepCachedBytes(Inode inode) {
        const std::optional<ReplicaEntry> entry = replica_.entry(inode);
        if (!entry || entry->isFolder || copies_.localContents(inode)) return;
        cache_.hold(inode);
        try {
            if (const auto cached = cache_.lookup(inode, entry->version.contentVersion)) {
                const auto size = static_cast<std::int64_t>(fs::file_size(*cached));
                copies_.beginWriting(inode, *cached, false);
                copies_.endWriting(inode);
                replica_.recordContentChange(inode, size, entry->modified.value_or(clock_.wallNow()));
            }
        } catch (const std::exception& failure) {
            hostLogger().error("Contenu en cache non repris : {}", std::string(failure.what()));
        }
        cache_.release(inode);
    }

    void waitForWorkingSet() {
        auto refreshed = std::make_shared<std::promise<void>>();
        std::future<void> done = refreshed->get_future();
        engine_.signal();
        engine_.whenIdle([refreshed] { refreshed->set_value(); });
        done.wait();
    }

    struct PluginAnswer {
        ItemPtr item;
        std::optional<Error> error;
    };
    /// The plug-in's item() answer, waited for. Never from a completion of
    /// the plug-in's (see answered()).
    PluginAnswer askPlugin(const fileprovider::ItemIdentifier& identifier) {
        auto answer = std::make_shared<std::promise<PluginAnswer>>();
        std::future<PluginAnswer> answered = answer->get_future();
        auto once = std::make_shared<std::once_flag>();
        const auto reply = [answer, once](PluginAnswer value) {
            std::call_once(*once, [&] { answer->set_value(std::move(value)); });
        };
        try {
            extension_->item(identifier, fileprovider::Request{}, [reply](ItemPtr item, std::optional<Error> error) {
                reply({std::move(item), std::move(error)});
            });
        } catch (...) {
            reply({nullptr, Error::serverUnreachable()});
        }
        return answered.get();
    }

    /// Whether the plug-in's view of the drive holds `identifier`; a
    /// failure other than "no such item" counts as holding it.
    bool pluginKnows(const fileprovider::ItemIdentifier& identifier) {
        const PluginAnswer answer = askPlugin(identifier);
        return answer.item || !answer.error || classifyUploadFailure(*answer.error) != UploadFailure::noSuchItem;
    }

    std::optional<fs::path> bytesToSend(const OutgoingChange& outgoing) {
        const Inode inode = outgoing.change.inode;
        const bool again = contains(outgoing.change.sending, LocalChange::creation) && outgoing.change.mayAlreadyExist;
        if (auto frozen = again ? copies_.sentAgain(inode) : copies_.freeze(inode)) return frozen;
        if (copies_.isBeingWritten(inode)) return std::nullopt;
        if (contains(outgoing.change.sending, LocalChange::creation)) {
            // A file made without being written (mknod): it is empty.
            copies_.beginWriting(inode, std::nullopt, false);
            copies_.endWriting(inode);
            return copies_.freeze(inode);
        }
        hostLogger().error("Contenu local introuvable, seul le reste du changement part");
        return std::nullopt;
    }

    void call(const OutgoingChange& outgoing, const std::shared_ptr<Attempt>& attempt,
              const std::optional<fs::path>& contents) {
        const std::shared_ptr<UploadGate> gate = gate_;
        Impl* const self = this;
        const auto answer = [gate, self, attempt](ItemPtr item, bool shouldFetch, std::optional<Error> error) {
            {
                LockGuard lock(gate->mutex);
                if (gate->closed) return;
                if (attempt->answered) {
                    hostLogger().error("Le module a répondu deux fois à un envoi");
                    return;
                }
                attempt->answered = true;
                ++gate->completing;
            }
            self->answered(*attempt, std::move(item), shouldFetch, std::move(error));
            {
                LockGuard lock(gate->mutex);
                --gate->completing;
            }
            gate->changed.notify_all();
        };
        std::shared_ptr<Progress> progress;
        try {
            progress = callPlugin(outgoing, attempt->withContents ? contents : std::nullopt, answer);
        } catch (...) {
            answer(nullptr, false, fileprovider::errorFromException(std::current_exception()));
            return;
        }
        started(attempt->inode, progress, attempt->withContents ? outgoing.item.size.value_or(0) : 0);
    }

    template <typename Answer>
    std::shared_ptr<Progress> callPlugin(const OutgoingChange& outgoing, const std::optional<fs::path>& contents,
                                         const Answer& answer) {
        const PendingChange& change = outgoing.change;
        auto item = std::make_shared<BasicItem>(outgoing.item);
        if (contains(change.sending, LocalChange::deletion)) {
            // Never recursive: a folder is removed here once empty, and the
            // deletions of what it held went first (Replica::beginSending).
            return extension_->deleteItem(item->identifier, change.baseVersion, fileprovider::DeleteItemOptions::none,
                                          fileprovider::Request{},
                                          [answer](std::optional<Error> error) { answer(nullptr, false, error); });
        }
        const auto onChange = [answer](ItemPtr answered, ItemFields, bool shouldFetch, std::optional<Error> error) {
            answer(std::move(answered), shouldFetch, std::move(error));
        };
        const ItemFields fields = fieldsOf(change.sending, contents.has_value());
        if (contains(change.sending, LocalChange::creation)) {
            const auto options = change.mayAlreadyExist ? fileprovider::CreateItemOptions::mayAlreadyExist
                                                        : fileprovider::CreateItemOptions::none;
            return extension_->createItem(item, fields, contents, options, fileprovider::Request{}, onChange);
        }
        return extension_->modifyItem(item, change.baseVersion, fields, contents, fileprovider::ModifyItemOptions::none,
                                      fileprovider::Request{}, onChange);
    }

    /// Records the progress of a send the plug-in took; cancels it at once
    /// when a pause or shutdown came meanwhile.
    void started(Inode inode, const std::shared_ptr<Progress>& progress, std::int64_t size) {
        bool cancel = false;
        {
            LockGuard lock(mutex_);
            const auto found = sends_.find(inode);
            if (found == sends_.end()) return;  // already answered
            found->second.progress = progress;
            found->second.size = size;
            cancel = paused_ || stopping_;
        }
        if (cancel && progress) progress->cancel();
    }

    // ---- Answers ------------------------------------------------------------

    /// Runs on the thread of the plug-in's completion, which must never wait
    /// for the plug-in: asking it again goes to the pool.
    void answered(const Attempt& attempt, ItemPtr item, bool shouldFetch, std::optional<Error> error) {
        bool failed = false;
        std::optional<fileprovider::ItemIdentifier> readAgain;
        try {
            if (!error && !item && !contains(attempt.bits, LocalChange::deletion)) {
                error = Error::fileProvider(fileprovider::FileProviderErrorCode::serverUnreachable,
                                            "le module a répondu sans élément");
            }
            if (error) {
                failed = failedWith(attempt, *error, readAgain);
            } else {
                readAgain = succeeded(attempt, std::move(item), shouldFetch);
            }
        } catch (const std::exception& failure) {
            hostLogger().error("Réponse à un envoi non appliquée : {}", std::string(failure.what()));
            failed = true;
        }
        if (readAgain) {
            pool_.submit([this, inode = attempt.inode, bits = attempt.bits, identifier = *readAgain] {
                // A deletion is read again only when the drive refused it.
                if (contains(bits, LocalChange::deletion)) {
                    over(inode, bits, !restoreRefusedDeletion(inode, identifier));
                } else {
                    applyPluginItem(identifier);
                    over(inode, bits, false);
                }
            });
            return;
        }
        over(attempt.inode, attempt.bits, failed);
    }

    void over(Inode inode, LocalChange bits, bool failed) {
        ended(inode, failed);
        // A rename may have waited for this deletion to free its name, a
        // folder's deletion for this move out of it.
        if (contains(bits, LocalChange::deletion) || contains(bits, LocalChange::parent)) rescheduleWaiting();
    }

    /// The item as the plug-in holds it now, into the replica; one it no
    /// longer holds goes, as the change page that withdrew it took it.
    void applyPluginItem(const fileprovider::ItemIdentifier& identifier) {
        try {
            const ListingStamp asked = replica_.listingStamp();
            const PluginAnswer answer = askPlugin(identifier);
            if (answer.item) {
                notices_.post(replica_.apply(std::span(&answer.item, 1)));
            } else if (answer.error && classifyUploadFailure(*answer.error) == UploadFailure::noSuchItem) {
                if (const std::optional<ReplicaEntry> entry = replica_.entry(identifier))
                    notices_.post(replica_.forgetMissingItem(entry->inode, asked));
            }
        } catch (const std::exception& failure) {
            hostLogger().error("Réponse à un envoi non appliquée : {}", std::string(failure.what()));
        }
    }

    /// The item of a refused deletion back as the plug-in holds it; false
    /// when it cannot tell now: the deletion goes again later, and meets the
    /// same refusal.
    bool restoreRefusedDeletion(Inode inode, const fileprovider::ItemIdentifier& identifier) {
        try {
            const PluginAnswer answer = askPlugin(identifier);
            if (answer.item) {
                notices_.post(replica_.finishRefusedDeletion(inode, answer.item));
                return true;
            }
            if (answer.error && classifyUploadFailure(*answer.error) == UploadFailure::noSuchItem) {
                // Withdrawn there since: the deletion is done after all.
                notices_.post(replica_.finishSending(inode, nullptr));
                return true;
            }
            replica_.failSending(inode, std::nullopt);
        } catch (const std::exception& failure) {
            hostLogger().error("Réponse à un envoi non appliquée : {}", std::string(failure.what()));
        }
        return false;
    }

    /// The item to read again from the plug-in, when a listing showed it
    /// while the change was on its way: the plug-in holds what came last of
    /// the answer and the listing.
    std::optional<fileprovider::ItemIdentifier> succeeded(const Attempt& attempt, ItemPtr item, bool shouldFetch) {
        const Inode inode = attempt.inode;
        const fileprovider::ByteString contentVersion = item ? item->itemVersion().contentVersion : "";
        hostLogger().debug("Envoi de {} accepté : {}, version {}", attempt.identifier.rawValue(),
                           item ? item->itemIdentifier().rawValue() : std::string("aucun élément"), contentVersion);
        if (shouldFetch) {
            // The plug-in kept the bytes sent as a conflict copy on the
            // drive; bytes written since are not in it and stay.
            const bool newer = copies_.dropSent(inode);
            notices_.post(replica_.finishSending(inode, item, newer ? SentBytes::copiedNewerHere : SentBytes::copied));
            cache_.drop(inode);
            engine_.signal();
        } else {
            notices_.post(replica_.finishSending(inode, item));
            if (attempt.withContents) copies_.uploaded(inode, cache_, contentVersion);
        }
        {
            LockGuard lock(mutex_);
            failures_.erase(inode);
            changesMaybeLanded_.erase(inode);
            missedInDoubt_.erase(inode);
        }
        if (contains(attempt.bits, LocalChange::creation)) rescheduleWaiting();
        if (!item) return std::nullopt;
        const bool listedMeanwhile = replica_.takeListedWhileChanging(item->itemIdentifier());
        // A creation in doubt may have been answered with what its first
        // attempt left and another device withdrew since: the change page
        // that said so may have come before a restart, which forgot it.
        // A modification in doubt likewise, with the bytes its first attempt
        // left (the plug-in answers with the file it saw withdrawn).
        const bool foundLanded =
            (contains(attempt.bits, LocalChange::creation) && attempt.mayAlreadyExist) || attempt.mayHaveLanded;
        if (listedMeanwhile || foundLanded) return item->itemIdentifier();
        return std::nullopt;
    }

    /// True when the change goes back to the queue for a retry with back-off.
    /// Sets `readAgain` to an item to read again from the plug-in.
    bool failedWith(const Attempt& attempt, const Error& error,
                    std::optional<fileprovider::ItemIdentifier>& readAgain) {
        const Inode inode = attempt.inode;
        switch (classifyUploadFailure(error)) {
            case UploadFailure::cancelled:
                noteMaybeLanded(attempt);
                replica_.failSending(inode, std::nullopt);
                keepForRetry(attempt);
                requeue(inode);
                return false;
            case UploadFailure::refused: {
                replica_.failSending(inode, error.description);
                unfreeze(attempt);
                // The observer logs it, with the path it is told.
                observer_.refused(pathInMount(replica_, inode), error);
                return false;
            }
            case UploadFailure::noSuchItem:
                if (contains(attempt.bits, LocalChange::deletion)) {
                    notices_.post(replica_.finishSending(inode, nullptr));
                } else if (contains(attempt.bits, LocalChange::creation)) {
                    // The folder it goes into is gone from the drive. Sent
                    // again at once it would fail again at once, forever:
                    // it backs off while the working set brings the
                    // deletion, which makes the folder a creation again.
                    engine_.signal();
                    break;
                } else if (contains(attempt.bits, LocalChange::parent)) {
                    // The item, or the folder it goes into, is gone: sorted
                    // out before the next attempt (settleMoveInDoubt).
                    {
                        LockGuard lock(mutex_);
                        movesInDoubt_.insert(inode);
                    }
                    engine_.signal();
                    break;
                } else if (attempt.withContents && attempt.mayHaveLanded && firstMissInDoubt(inode)) {
                    engine_.signal();
                    break;
                } else {
                    unfreeze(attempt);
                    if (!takeMaybeLanded(inode)) keepCachedBytes(inode);
                    notices_.post(replica_.forgetRemoteItem(inode));
                    requeue(inode);
                }
                return false;
            case UploadFailure::notEmpty:
                // What another device put in the folder meanwhile stays on
                // the drive, and so does the folder, shown here again as the
                // drive last had it; the working set brings the rest.
                if (const std::optional<PendingChange> record = replica_.pendingChange(inode)) {
                    auto folder = std::make_shared<BasicItem>();
                    folder->identifier = attempt.identifier;
                    folder->parent = record->baseParent;
                    folder->name = record->baseName;
                    folder->version = record->baseVersion;
                    folder->type = types::ContentType::folder();
                    const ItemPtr shown = folder;
                    notices_.post(replica_.finishSending(inode, nullptr));
                    notices_.post(replica_.apply(std::span(&shown, 1)));
                }
                engine_.signal();
                return false;
            case UploadFailure::deletionRejected:
                // Another device's newer bytes win over a deletion made
                // without them: the file comes back as the drive has it
                // (restoreRefusedDeletion, which ends the record).
                readAgain = attempt.identifier;
                return false;
            case UploadFailure::excluded:
                unfreeze(attempt);
                replica_.keepLocalOnly(inode);
                return false;
            case UploadFailure::retry:
                noteMaybeLanded(attempt);
                break;
        }
        hostLogger().error("Envoi échoué, nouvel essai plus tard : {}", error.description);
        replica_.failSending(inode, std::nullopt);
        keepForRetry(attempt);
        return true;
    }

    void unfreeze(const Attempt& attempt) {
        if (attempt.withContents) copies_.unfreeze(attempt.inode);
    }

    /// A creation that may have reached the drive keeps the bytes it sent,
    /// to send them again (see Replica::beginSending).
    void keepForRetry(const Attempt& attempt) {
        if (!attempt.withContents) return;
        if (contains(attempt.bits, LocalChange::creation)) {
            copies_.keepSent(attempt.inode);
        } else {
            copies_.unfreeze(attempt.inode);
        }
    }

    /// Due again at once (a resumed queue, an item that became a creation).
    void requeue(Inode inode) {
        const std::optional<PendingChange> record = replica_.pendingChange(inode);
        if (!record || record->refusal || record->queued == LocalChange::none) return;
        LockGuard lock(mutex_);
        due(inode, record->sequence, clock_.now());
        wakeLocked();
    }

    /// Changes that waited for a creation may go now.
    void rescheduleWaiting() {
        const std::vector<PendingChange> records = replica_.pendingChanges();
        LockGuard lock(mutex_);
        const Clock::TimePoint now = clock_.now();
        for (const PendingChange& record : records) {
            if (record.refusal || record.queued == LocalChange::none || record.heldAsScratch) continue;
            // One in flight may be the change that was just told to wait: it
            // is tried again once that attempt ends.
            if (schedule_.contains(record.inode)) continue;
            due(record.inode, record.sequence, now);
        }
        // The scheduler may have planned its sleep before these were due.
        wakeLocked();
    }

    /// The send of `inode` is over; with `failed`, it is due again after
    /// its back-off.
    void ended(Inode inode, bool failed) {
        {
            LockGuard lock(mutex_);
            const auto found = sends_.find(inode);
            const std::int64_t sequence = found == sends_.end() ? 0 : found->second.sequence;
            if (found != sends_.end()) sends_.erase(found);
            if (failed) {
                const std::size_t failures = ++failures_[inode];
                const Clock::TimePoint at = clock_.now() + retryDelay(options_.retrySchedule, failures);
                auto [slot, added] = schedule_.try_emplace(inode, Due{at, sequence, true});
                slot->second.at = std::max(slot->second.at, at);
                slot->second.retry = true;
            }
            wakeLocked();
        }
        reportPending();
    }

    void reportPending() {
        try {
            observer_.pendingChanged(replica_.pendingCount());
        } catch (const std::exception& failure) {
            hostLogger().error("File des changements illisible : {}", std::string(failure.what()));
        }
    }

    // ---- Shutdown -----------------------------------------------------------

    void shutdown() {
        std::vector<std::shared_ptr<Progress>> running;
        {
            LockGuard lock(mutex_);
            stopping_ = true;
            wakeLocked();
            for (const auto& [inode, send] : sends_) {
                if (send.progress) running.push_back(send.progress);
            }
        }
        scheduler_.join();
        for (const auto& progress : running) progress->cancel();
        pool_.close();
        {
            UniqueLock lock(gate_->mutex);
            gate_->closed = true;
            gate_->changed.wait(lock, [this]() CADRIO_NO_THREAD_SAFETY_ANALYSIS { return gate_->completing == 0; });
        }
        std::vector<std::function<void()>> idle;
        {
            LockGuard lock(mutex_);
            idle = std::exchange(idleWaiters_, {});
        }
        for (const auto& callback : idle) callback();
    }

    const fileprovider::ExtensionPtr extension_;
    Replica& replica_;
    WorkingCopies& copies_;
    ContentCache& cache_;
    SyncEngine& engine_;
    NoticeSink& notices_;
    UploadObserver& observer_;
    Clock& clock_;
    const Options options_;
    const std::shared_ptr<UploadGate> gate_ = std::make_shared<UploadGate>();

    mutable Mutex mutex_;
    std::map<Inode, Due> schedule_ CADRIO_GUARDED_BY(mutex_);
    std::unordered_map<Inode, Send> sends_ CADRIO_GUARDED_BY(mutex_);
    std::unordered_map<Inode, std::size_t> failures_ CADRIO_GUARDED_BY(mutex_);
    std::unordered_set<Inode> movesInDoubt_ CADRIO_GUARDED_BY(mutex_);
    /// Changes whose last attempt failed after it may have reached the
    /// drive (see takeMaybeLanded), and those of them whose bytes met "no
    /// such item" once (see firstMissInDoubt).
    std::unordered_set<Inode> changesMaybeLanded_ CADRIO_GUARDED_BY(mutex_);
    std::unordered_set<Inode> missedInDoubt_ CADRIO_GUARDED_BY(mutex_);
    /// When the last refresh before a deletion that has ended began.
    Clock::TimePoint refreshedFrom_ CADRIO_GUARDED_BY(mutex_) = Clock::TimePoint::min();
    std::vector<std::function<void()>> idleWaiters_ CADRIO_GUARDED_BY(mutex_);
    std::stop_source wake_ CADRIO_GUARDED_BY(mutex_);
    bool paused_ CADRIO_GUARDED_BY(mutex_) = false;
    /// The scheduler has planned its next wake-up since the last change.
    bool planned_ CADRIO_GUARDED_BY(mutex_) = false;
    bool stopping_ CADRIO_GUARDED_BY(mutex_) = false;

    WorkPool pool_;
    std::thread scheduler_;
};

ChangeUploader::ChangeUploader(fileprovider::ExtensionPtr extension, Replica& replica, WorkingCopies& copies,
                               ContentCache& cache, SyncEngine& engine, NoticeSink& notices, UploadObserver& observer,
                               Clock& clock, Options options)
    : impl_(std::make_unique<Impl>(std::move(extension), replica, copies, cache, engine, notices, observer, clock,
                                   std::move(options))) {}

ChangeUploader::~ChangeUploader() = default;

void ChangeUploader::start(const std::vector<Inode>& leftInFlight) { impl_->start(leftInFlight); }
void ChangeUploader::changed(Inode inode) { impl_->changed(inode); }
void ChangeUploader::pause() { impl_->pause(); }
void ChangeUploader::resume() { impl_->resume(); }
TransferProgress ChangeUploader::progress() const { return impl_->progress(); }
void ChangeUploader::whenIdle(std::function<void()> done) { impl_->whenIdle(std::move(done)); }

}  // namespace cadrio::host
