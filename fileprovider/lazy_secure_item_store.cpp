#include "fileprovider/lazy_secure_item_store.hpp"

#include <stdexcept>

namespace cadrio {

SecureItemStore& LazySecureItemStore::store() {
    std::call_once(opened_, [this] {
        auto store = open_();
        if (!store) throw std::runtime_error("no secure item store could be opened");
        store_ = std::move(store);
        isOpen_.store(true, std::memory_order_release);
    });
    return *store_;
}

std::string_view LazySecureItemStore::backendName() const {
    if (!isOpen_.load(std::memory_order_acquire)) return "lazy";
    return store_->backendName();
}

}  // namespace cadrio
