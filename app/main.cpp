#include "app/Application.h"
#include "app/Program.h"
#include "fleetui/FleetWindow.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const usage =
    "Uso: pradix [--centraline | --help | --version]\n"
    "\n"
    "Programma i Kolvar (Kolvar22 e Kolvar1) sulla linea seriale: legge la tabella\n"
    "di 127 associazioni di un Kolvar, la modifica in una griglia, la riscrive con\n"
    "l'orologio del computer, la conserva in file \".dat\" e tiene la rubrica dei\n"
    "clienti (RUBRICA.DAT nella cartella in cui il programma parte).\n"
    "\n"
    "La porta si sceglie nella finestra, nella casella \"Porta:\": \"Com1\", \"Com2\",\n"
    "un percorso come /dev/ttyUSB0, o un collegamento comN in\n"
    "$XDG_CONFIG_HOME/pradix/ports/ (di solito ~/.config/pradix/ports/).\n"
    "\n"
    "Ogni scambio sulla linea resta nel registro per l'assistenza,\n"
    "$XDG_STATE_HOME/pradix/line.log (di solito ~/.local/state/pradix/line.log).\n"
    "\n"
    "  --centraline  apre solo la finestra \"Centraline dei clienti\": le centraline\n"
    "                dei clienti come le ha trovate il controllo notturno, la storia\n"
    "                di ognuna, il ripristino di una tabella vista in una centralina\n"
    "                (archivio, rubrica e porte da $XDG_CONFIG_HOME/pradix/audit.conf)\n"
    "  --help        mostra questo testo\n"
    "  --version     mostra la versione\n"
    "\n"
    "Le opzioni dell'interfaccia grafica (per esempio -platform offscreen) valgono come\n"
    "per ogni programma Qt.\n";

const char* const licence =
    "Licenza GPLv3+: GNU GPL versione 3 o successiva <https://gnu.org/licenses/gpl.html>.\n"
    "Questo è software libero: lo si può modificare e ridistribuire.\n"
    "Non c'è ALCUNA GARANZIA, nei limiti permessi dalla legge.\n";

} // namespace

int main(int argc, char** argv)
{
    // Answered on the terminal before any window or display is touched.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("pradix %s\n%s", PRADIX_VERSION, licence);
            return 0;
        }
    }

    TApplication app(argc, argv);
    // The toolkit has taken its own options out; anything left is a mistake.
    const bool fleetOnly = argc == 2 && std::strcmp(argv[1], "--centraline") == 0;
    if (argc > 1 && !fleetOnly) {
        std::fprintf(stderr, "pradix: opzione sconosciuta: %.200s\n\n%s", argv[1], usage);
        return 2;
    }
    app.setHelpFile(QStringLiteral("Pradix.hlp"));
    app.setApplicationVersion(QStringLiteral(PRADIX_VERSION));

    if (fleetOnly) {
        const Seams seams = realSeams();
        app.setDialogs(seams.dialogs);
        fleetui::FleetWindow fleet(*seams.dialogs, fleetui::readFleetSetup());
        app.setMainWindow(&fleet);
        fleet.show();
        const int status = app.exec();
        app.setDialogs(nullptr);
        return status;
    }

    Program program(realSeams());
    app.setMainWindow(&program.frmMain);
    program.frmMain.show();
    return app.exec();
}
