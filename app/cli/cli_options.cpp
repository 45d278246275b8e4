#include "app/cli/cli_options.hpp"

namespace cadrio::app::cli {

const char* const kUsage =
    "usage: zelvano-cadrio [--headless [--email ADRESSE [--password-stdin]]] [--help]\n"
    "\n"
    "  --headless        le Cadrio dans le terminal, sans icône de barre d'état\n"
    "  --email ADRESSE   l'adresse du compte (sinon demandée)\n"
    "  --password-stdin  le mot de passe sur la première ligne de l'entrée standard\n"
    "\n"
    "Commandes du terminal : r actualiser, o dossier, d masquer le conflit,\n"
    "s se déconnecter, q quitter (Ctrl-C aussi).\n"
    "\n"
    "Codes de sortie : 0 fin demandée (q, Ctrl-C, SIGTERM, fin de l'entrée),\n"
    "1 connexion refusée sans possibilité de redemander, 2 ligne de commande\n"
    "incorrecte, 3 hôte du Cadrio ou trousseau injoignable au démarrage.\n";

std::variant<CliOptions, std::string> parseCliOptions(const std::vector<std::string>& arguments) {
    CliOptions options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        std::string argument = arguments[index];
        std::optional<std::string> inlineValue;
        if (const auto equals = argument.find('='); argument.starts_with("--") && equals != std::string::npos) {
            inlineValue = argument.substr(equals + 1);
            argument.resize(equals);
        }
        const bool takesValue = argument == "--email";
        if (inlineValue && !takesValue) return argument + " ne prend pas de valeur";
        if (argument == "--headless") {
            options.headless = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--password-stdin") {
            options.passwordFromStdin = true;
        } else if (takesValue) {
            if (!inlineValue && index + 1 >= arguments.size()) return argument + " attend une adresse";
            options.email = inlineValue ? *inlineValue : arguments[++index];
            if (options.email->empty()) return argument + " attend une adresse";
        } else {
            return "option inconnue : " + argument;
        }
    }
    if (options.help) return options;
    if (options.passwordFromStdin && !options.email) return "--password-stdin demande --email";
    if ((options.email || options.passwordFromStdin) && !options.headless) return "--email et --password-stdin vont avec --headless";
    return options;
}

}  // namespace cadrio::app::cli
