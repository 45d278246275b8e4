#include "core/model/drive_error.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cadrio {
namespace {

struct MessageCase {
    DriveError error;
    std::string message;
    bool retryable;
};

TEST(DriveErrorTest, EveryCaseHasItsMessageAndRetryDecision) {
    const std::vector<MessageCase> cases = {
        {DriveError::http(500, "oops"), "Erreur du serveur (HTTP 500). oops", true},
        {DriveError::http(503, ""), "Erreur du serveur (HTTP 503). ", true},
        {DriveError::http(499, "x"), "Erreur du serveur (HTTP 499). x", false},
        {DriveError::http(409, ""), "Erreur du serveur (HTTP 409). ", false},
        {DriveError::transport("délai dépassé"), "Le Cadrio est injoignable. délai dépassé", true},
        {DriveError::transport(""), "Le Cadrio est injoignable. ", true},
        {DriveError::decoding("id: expected an integer, got 1.5"),
         "Réponse du serveur illisible. id: expected an integer, got 1.5", false},
        {DriveError::notAuthenticated(), "Session expirée, reconnexion nécessaire.", false},
        {DriveError::notFound(), "Cet élément n'existe plus sur le Cadrio.", false},
        {DriveError::insufficientQuota(), "Espace de stockage insuffisant sur le Cadrio.", false},
        {DriveError::payloadTooLarge(), "Fichier trop volumineux pour un envoi direct.", false},
        {DriveError::reinforced(), "Ce fichier est en stockage renforcé : modifiez-le depuis le web.", false},
        {DriveError::locked(), "Ce fichier est ouvert dans l'éditeur en ligne. Nouvel essai dans un instant.", false},
        {DriveError::versionConflict(), "Ce fichier a été modifié ailleurs entre-temps.", false},
        {DriveError::archived(), "Ce fichier est archivé, il reste disponible depuis le web.", false},
        {DriveError::cursorExpired(), "La synchronisation doit repartir d'un état complet du Cadrio.", false},
        {DriveError::twoFactorInvalidCode(), "Code invalide.", false},
        {DriveError::twoFactorExpired(), "La vérification a expiré. Reconnectez-vous.", false},
        {DriveError::tooManyAttempts(), "Trop de tentatives, réessayez dans quelques minutes.", false},
        {DriveError::twoFactorClientUnsupported(),
         "Cette version d'Zelvano Cadrio ne sait pas gérer la double authentification. Mettez l'app à jour.",
         false},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(kindName(c.error.kind()));
        EXPECT_EQ(c.error.errorDescription(), c.message);
        EXPECT_STREQ(c.error.what(), c.message.c_str());
        EXPECT_EQ(c.error.isRetryable(), c.retryable);
    }
}

TEST(DriveErrorTest, EqualityComparesCaseAndPayload) {
    EXPECT_EQ(DriveError::http(404, ""), DriveError::http(404, ""));
    EXPECT_NE(DriveError::http(404, ""), DriveError::notFound());
    EXPECT_NE(DriveError::http(500, "a"), DriveError::http(500, "b"));
    EXPECT_NE(DriveError::http(500, "a"), DriveError::http(502, "a"));
    EXPECT_NE(DriveError::transport("a"), DriveError::transport("b"));
    EXPECT_NE(DriveError::transport("a"), DriveError::decoding("a"));
    EXPECT_EQ(DriveError::locked(), DriveError::of(DriveError::Kind::locked));
}

TEST(DriveErrorTest, PayloadCasesCannotBeBuiltWithoutTheirPayload) {
    EXPECT_THROW(DriveError::of(DriveError::Kind::http), std::invalid_argument);
    EXPECT_THROW(DriveError::of(DriveError::Kind::decoding), std::invalid_argument);
}

TEST(DriveErrorTest, IsCaughtAsAStandardException) {
    try {
        throw DriveError::notFound();
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Cet élément n'existe plus sur le Cadrio.");
    }
}

}  // namespace
}  // namespace cadrio
