#include "app/model/error_text.hpp"

#include "app/domain/domain_controlling.hpp"
#include "core/model/drive_error.hpp"
#include "platform/keychain/keychain_error.hpp"

namespace cadrio::app {

std::string errorText(const std::exception_ptr& error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const DriveError& e) {
        return e.errorDescription();
    } catch (const KeychainError& e) {
        return e.description();
    } catch (const DomainError& e) {
        return e.what();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "Erreur inconnue";
}

}  // namespace cadrio::app
