// Every text that the program shows, each in one place. Like all text of the
// store they are Windows-1252 bytes ("\xED" is an i with an acute accent);
// ui() in Ansi.h turns them into what the widgets show.
#pragma once

#include <array>

#include "book/Version.h"

namespace contavio::text {

// The application.
inline constexpr char kAppTitle[] = "Tarvel - Brenholt";
inline constexpr char kPickedTitlePrefix[] = "Tarvel: ";

// The main window.
inline constexpr char kMainCaption[] = "Contavio";
inline constexpr char kVersionLabel[] = "Contavio v" CONTAVIO_VERSION;
inline constexpr char kPersonalData[] = " Datos personales ";
inline constexpr char kFirstNames[] = "Nombres";
inline constexpr char kSurnames[] = "Apellidos";
inline constexpr char kWebUrl[] = "Web URL";
inline constexpr char kAddress[] = "Direcci\xF3n";
inline constexpr char kBirthday[] = "Cumplea\xF1os";
inline constexpr char kPhones[] =
    "Tel\xE9"
    "fonos";
inline constexpr char kEmails[] = "E-mails";
inline constexpr char kNotes[] = "Notas";
inline constexpr char kPhonePanel[] =
    " Agregar Tel\xE9"
    "fonos al contacto ";
inline constexpr char kPhone[] =
    "Tel\xE9"
    "fono";
inline constexpr char kAdd[] = "Agregar";
inline constexpr char kRemoveSelected[] = "Eliminar Seleccionado";
inline constexpr char kEmailPanel[] = " Agregar E-mail al contacto ";
inline constexpr char kEmail[] = "E-mail";
inline constexpr char kRemove[] = "Eliminar";
inline constexpr char kSearchPanel[] = " B\xFAsquedas ";
inline constexpr char kByText[] = "por texto:";
inline constexpr char kSearch[] = "Buscar";
inline constexpr char kCountLabelStart[] = "Label11";
inline constexpr char kSolutions[] = "Soluciones: ";

// The birthday pickers: their prompts and items.
inline constexpr char kDayPrompt[] =
    "D\xED"
    "a";
inline constexpr char kMonthPrompt[] = "Mes";
inline constexpr std::array<const char*, 12> kMonths = {
    "Enero", "Febrero", "Marzo",     "Abril",   "Mayo",      "Junio",
    "Julio", "Agosto",  "Setiembre", "Octubre", "Noviembre", "Diciembre"};

// An editor field left empty is saved as this.
inline constexpr char kNotAvailable[] = "n/a";

// The main menu.
inline constexpr char kProgramMenu[] = "Programa";
inline constexpr char kQuit[] = "Salir";
inline constexpr char kImportVCard[] = "Importar vCard...";
inline constexpr char kExportVCard[] = "Exportar vCard...";
inline constexpr char kContactsMenu[] = "Contactos";
inline constexpr char kModify[] = "Modificar";
inline constexpr char kCredits[] =
    "Cr\xE9"
    "ditos";

// Messages of the main window.
inline constexpr char kSelectAContact[] = "Debe haber un contacto seleccionado";
inline constexpr char kContactDeleted[] = "Contacto eliminado";

// A database file that could not be read to its end at start-up.
inline constexpr char kReadFailed[] = "No se pudo leer completo el archivo ";
inline constexpr char kPartialKept[] = "Se muestran los contactos que se leyeron antes del error.";
inline constexpr char kNothingRead[] =
    "No se pudo leer ning\xFAn contacto: se empieza con una agenda vac\xED"
    "a.";
// What is kept of a file that start-up did not read in full. The names of the
// files follow each text.
inline constexpr char kDamagedCopied[] = "El archivo tal como estaba se copi\xF3 en ";
inline constexpr char kDamagedReplacedAtClose[] =
    ". Al salir, data.vlt se reemplaza por la agenda de esta sesi\xF3n.";
inline constexpr char kDamagedLegacyKept[] =
    "Al salir, los contactos se guardan en data.vlt y el archivo se conserva con el nombre ";
inline constexpr char kLegacyRead[] =
    "Se ley\xF3 contact.txt en lugar de data.vlt: al salir, sus contactos reemplazan a "
    "data.vlt. El data.vlt anterior se copi\xF3 en ";
inline constexpr char kNotCopied[] = "No se pudo hacer una copia de ";
inline constexpr char kNotCopiedSoKept[] =
    ", as\xED que no se reemplaza: al salir, los contactos se guardan en un archivo nuevo "
    "junto a \xE9l.";
inline constexpr char kSavedToNewFile[] = "Los contactos se guardaron en ";
inline constexpr char kSavedToNewFileWhy[] =
    ", porque no se pudo hacer una copia de data.vlt, que queda como estaba.";

// A second program on the same book.
inline constexpr char kAlreadyOpen[] =
    "La agenda de esta carpeta ya est\xE1 abierta en otra ventana de Contavio. "
    "Use esa ventana.";
// The same with another program: the program, and when known the process,
// follow the first text ("contavio-book (proceso 4242)").
inline constexpr char kOpenElsewhere[] = "La agenda de esta carpeta est\xE1 abierta en ";
inline constexpr char kOtherProgram[] = "otro programa";
inline constexpr char kProcess[] = "proceso ";
inline constexpr char kOpenElsewhereEnd[] = ". Vuelva a abrir Contavio cuando termine.";

// Text that the book cannot keep. The field's caption and the characters
// follow the first text.
inline constexpr char kCannotKeepStart[] = "No se guard\xF3 nada: el campo ";
inline constexpr char kCannotKeepChars[] = " tiene caracteres que la agenda no puede guardar: ";
inline constexpr char kCannotKeepEnd[] = "\nC\xE1mbielos y vuelva a intentarlo.";

// A well-formed database file that holds another kind of set.
inline constexpr char kNotAContactBookStart[] = "El archivo ";
inline constexpr char kNotAContactBook[] =
    " no guarda una agenda de contactos: sus elementos no tienen 8 campos de texto y 2 listas "
    "de texto con la clave en el primero.";

// Close-down.
inline constexpr char kSaveFailed[] = "No se pudieron guardar los contactos en ";
inline constexpr char kSaveFailedAdvice[] =
    "Libere espacio o corrija el problema y elija \"Reintentar\", o elija "
    "\"Salir sin guardar\" para salir sin guardar los cambios (no se borra ning\xFAn "
    "archivo).";
inline constexpr char kRetry[] = "Reintentar";
inline constexpr char kLeaveWithoutSaving[] = "Salir sin guardar";
inline constexpr char kBackupFailed[] = "No se pudo copiar ";
inline constexpr char kBackupTo[] = " a ";
inline constexpr char kLegacyNotRemoved[] =
    "Los contactos se guardaron en data.vlt, pero no se pudo borrar ";
inline constexpr char kLegacyNotMoved[] =
    "Los contactos se guardaron en data.vlt, pero no se pudo renombrar ";

// A run-time error that is not a std::exception.
inline constexpr char kUnknownError[] = "Error desconocido";

// What assistive technology reads for each control: its name, then what it
// is for. Keyed by the control's object name.
struct ControlDescription {
    const char* control;
    const char* name;
    const char* description;
};
inline constexpr std::array<ControlDescription, 18> kControlDescriptions = {{
    {"LabeledEdit1", "Nombres", "Nombres del contacto"},
    {"LabeledEdit2", "Apellidos", "Apellidos del contacto"},
    {"LabeledEdit3", "Direcci\xF3n",
     "Direcci\xF3n postal, en una l\xED"
     "nea"},
    {"LabeledEdit5", "Web URL", "Direcci\xF3n de la p\xE1gina web"},
    {"ComboBox1",
     "D\xED"
     "a de cumplea\xF1os",
     "Elija el d\xED"
     "a, del 1 al 31"},
    {"ComboBox2", "Mes de cumplea\xF1os", "Elija el mes, de Enero a Diciembre"},
    {"ListBox1",
     "Tel\xE9"
     "fonos",
     "Tel\xE9"
     "fonos del contacto"},
    {"ListBox2", "E-mails", "Direcciones de e-mail del contacto"},
    {"Memo1", "Notas", "Notas sobre el contacto"},
    {"LabeledEdit4",
     "Tel\xE9"
     "fono",
     "Escriba un tel\xE9"
     "fono; Intro lo agrega a la lista"},
    {"Button1",
     "Agregar tel\xE9"
     "fono",
     "Agrega el tel\xE9"
     "fono escrito a la lista"},
    {"Button5",
     "Eliminar tel\xE9"
     "fono seleccionado",
     "Quita de la lista el tel\xE9"
     "fono elegido"},
    {"LabeledEdit6", "E-mail", "Escriba un e-mail; Intro lo agrega a la lista"},
    {"Button2", "Agregar e-mail", "Agrega el e-mail escrito a la lista"},
    {"Button6", "Eliminar e-mail seleccionado", "Quita de la lista el e-mail elegido"},
    {"LabeledEdit7", "Buscar por texto",
     "Texto a buscar en nombres, apellidos y direcci\xF3n; Intro busca"},
    {"Button3", "Buscar", "Busca el texto y muestra los contactos que lo contienen (F5)"},
    {"ListBox3", "Resultados de la b\xFAsqueda", "Elija un contacto para verlo y editarlo"},
}};

// vCard import and export.
inline constexpr char kVCardFilter[] = "vCard (*.vcf *.vcard);;Todos los archivos (*)";
inline constexpr char kVCardSuggested[] = "contactos.vcf";
inline constexpr char kImportDone[] = "Importaci\xF3n de vCard: ";
inline constexpr char kMoreWarnings[] = "... y %1 avisos m\xE1s.";
inline constexpr char kExportDone[] = " contactos exportados a ";

// Shown while a large book is read or written.
inline constexpr char kOpening[] = "Abriendo la agenda...";
inline constexpr char kSaving[] = "Guardando...";

// Started without a display: printed on standard error, followed by the
// program's own path.
inline constexpr char kNoDisplay[] =
    "Contavio necesita una pantalla gr\xE1"
    "fica y no encontr\xF3 ninguna (DISPLAY y "
    "WAYLAND_DISPLAY est\xE1n vac\xED"
    "as).\n"
    "Contavio needs a display and found none (DISPLAY and WAYLAND_DISPLAY are empty).\n"
    "In\xED"
    "cielo en un escritorio o con una pantalla virtual / "
    "start it on a desktop or on a virtual display:\n"
    "    xvfb-run ";

// The credits window: its caption and its 28 lines.
inline constexpr char kCreditsCaption[] =
    "Cr\xE9"
    "ditos";
inline constexpr std::array<const char*, 28> kCreditsLines = {
    "Tarvel v0.98 por Brenholt",
    "brenholt@example.com",
    "http://www.example.com/tarvel",
    "",
    "Aplicaci\xF3n de ELVA (Elementos, Listas y Valores Almacenados)",
    "",
    "v0.9",
    "   Primer versi\xF3n funcional.",
    "   Limitaci\xF3n: los nombres y apellidos de los contactos no",
    "pueden coincidir al mismo tiempo, es decir no se puede",
    "ingresar dos veces a la misma persona, porque el programa",
    "podr\xED"
    "a comportarse de forma impredecible. S\xED se pueden",
    "ingresar contactos que s\xF3lo compartan el nombre (Juan P\xE9rez",
    "y Juan G\xF3mez) o s\xF3lo el apellido (Ana P\xE9rez y Luis P\xE9rez).",
    "",
    "",
    "v0.98",
    "   Varias mejoras se agregaron al sistema, como ser",
    "la encriptaci\xF3n de las bases de datos para mayor",
    "seguridad. El nuevo programa toma autom\xE1ticamente la",
    "base de datos antigua (contact.txt) y la convierte en",
    "la nueva base de datos encriptada (data.vlt).",
    "   Se hicieron mejoras menores de c\xF3"
    "digo.",
    "   Contin\xFA"
    "a la limitaci\xF3n para ingresar contactos con",
    "nombres y apellidos iguales.",
    "   En pr\xF3ximas ediciones se quiere agregar un cuadro",
    "de login opcional, as\xED nadie que no tenga un nombre",
    "de usuario y una clave no pueda acceder al programa.",
};

// The CardDAV account and its sync in the window.
inline constexpr char kNoSecretStore[] =
    "No hay un almac\xE9n de contrase\xF1"
    "as en este escritorio: la contrase\xF1"
    "a escrita sirve solo mientras Contavio siga abierto.";
inline constexpr char kSecretStoreFailed[] =
    "El almac\xE9n de contrase\xF1"
    "as no guard\xF3 ni ley\xF3 la contrase\xF1"
    "a: ";
inline constexpr char kAccountNotSaved[] = "No se pudo guardar la cuenta en ";

inline constexpr char kAccountEntry[] = "Cuenta CardDAV...";
inline constexpr char kSyncNowEntry[] = "Sincronizar ahora";
inline constexpr char kAccountCaption[] = "Cuenta CardDAV";
inline constexpr char kServerField[] = "Servidor";
inline constexpr char kUserField[] = "Usuario";
inline constexpr char kPasswordField[] =
    "Contrase\xF1"
    "a";
inline constexpr char kAddressBookField[] = "Libreta de direcciones";
inline constexpr char kProbe[] = "Probar";
inline constexpr char kProbing[] = "Consultando al servidor...";
inline constexpr char kProbeFound[] = "El servidor responde. Libretas encontradas: ";
inline constexpr char kChooseAddressBook[] = "Elija una de estas libretas: ";
inline constexpr char kFingerprint[] = "Huella SHA-256 del certificado: ";
inline constexpr char kTrustCertificate[] = "Confiar en este certificado para este servidor";
inline constexpr char kSaveAccount[] = "Guardar";
inline constexpr char kCancel[] = "Cancelar";
inline constexpr char kSend[] = "Enviar";
inline constexpr char kNoServerAddress[] =
    "Escriba la direcci\xF3n del servidor, que empieza por https:// (o http://).";
inline constexpr char kPlainHttpQuestion[] =
    "La direcci\xF3n empieza por http://: la contrase\xF1"
    "a viajar\xED"
    "a sin cifrar hasta %1, y cualquiera en el camino podr\xED"
    "a leerla. \xBF"
    "Enviarla de todos modos?";
inline constexpr char kNoAccount[] =
    "Todav\xED"
    "a no hay una cuenta CardDAV: config\xFA"
    "rela en Programa > Cuenta CardDAV...";
inline constexpr char kSyncBusy[] =
    "Ya hay una sincronizaci\xF3n en curso; sus cambios llegar\xE1n en unos segundos.";
inline constexpr char kNoPasswordKept[] =
    "No hay contrase\xF1"
    "a guardada para esta cuenta: escr\xED"
    "bala en Programa > Cuenta CardDAV...";
inline constexpr char kSyncFailed[] = "No se pudo sincronizar con el servidor: ";
inline constexpr char kSyncUntrustedAdvice[] =
    "\nSi conf\xED"
    "a en ese certificado, ac\xE9ptelo en Programa > Cuenta CardDAV...";
inline constexpr char kSyncCatchesUp[] =
    "\nLa agenda sigue como estaba; la pr\xF3xima sincronizaci\xF3n se pondr\xE1 al d\xED"
    "a.";
inline constexpr char kSyncRefused[] =
    "La sincronizaci\xF3n se detuvo sin cambiar nada: un lado est\xE1 vac\xED"
    "o o lo sustituyen tarjetas o contactos que nunca se sincronizaron, o perder\xED"
    "a la mitad de lo que ten\xED"
    "a o m\xE1s (en esta sincronizaci\xF3n o en las hechas desde la \xFAltima "
    "confirmaci\xF3n). Se borrar\xED"
    "a:";
inline constexpr char kSyncOtherPlace[] =
    "La sincronizaci\xF3n se detuvo sin cambiar nada: esta agenda se sincroniz\xF3 con otra "
    "libreta de direcciones (%1), y sincronizarla con esta mezclar\xED"
    "a las dos. Har\xED"
    "a: ";
inline constexpr char kSyncRefusedAdvice[] =
    "\nSi es lo que quiere, sincronice una vez con contavio-book sync --force-delete.";
inline constexpr char kSyncDone[] = "Sincronizaci\xF3n terminada. ";
inline constexpr char kSyncSummary[] =
    "Servidor: %1 nuevas, %2 cambiadas, %3 borradas; agenda: %4 nuevos, %5 cambiados, %6 "
    "borrados; conflictos: %7.";
inline constexpr char kSyncKept[] = "Copia de lo borrado o cambiado: ";
inline constexpr char kSyncTouched[] =
    "Los contactos que cambi\xF3 mientras se sincronizaba quedan como usted los dej\xF3; la "
    "pr\xF3xima sincronizaci\xF3n los pondr\xE1 en com\xFAn con el servidor.";
inline constexpr char kSyncStateNotSaved[] =
    "No se pudo guardar el estado de la sincronizaci\xF3n (la pr\xF3xima se pondr\xE1 al d\xED"
    "a): ";

// A book file with another name (a hard link), which a save would split
// from it; the file's name follows the first text.
inline constexpr char kHardLinkedStart[] = "No se reemplaza ";
inline constexpr char kHardLinked[] =
    ": el archivo tiene otro nombre (un enlace duro), que seguir\xED"
    "a con la agenda anterior, y un programa que la abriera por ese nombre trabajar\xED"
    "a en otra agenda. Deje el archivo con un solo nombre (borre el otro enlace, o ponga una "
    "copia en su lugar).";
inline constexpr char kHardLinkedThenNewFile[] = " Luego ponga el archivo nuevo en su lugar.";

// The window's line about the account's sync, and the save a termination
// signal makes without asking.
inline constexpr char kSyncRunning[] = "Sincronizando con el servidor...";
inline constexpr char kSyncUpToDate[] = "Sincronizado con el servidor a las %1.";
inline constexpr char kSyncNotRun[] = "No se sincroniz\xF3: ";
inline constexpr char kSavedAsideOnSignal[] =
    "Los contactos de esta sesi\xF3n se guardaron en %1, porque no se pudieron guardar en %2.";
inline constexpr char kNotSavedOnSignal[] =
    "No se pudieron guardar los contactos de esta sesi\xF3n en ning\xFAn archivo.";

// The server sync: what servers as they are, and the network, make it say.
inline constexpr char kDavGoogle[] =
    "Google no deja entrar en sus contactos con una contrase\xF1"
    "a: pide OAuth 2, que Contavio no usa, y %1 no se puede sincronizar as\xED. Exporte los "
    "contactos de Google a un archivo vCard e imp\xF3rtelo.";
inline constexpr char kDavSentElsewhere[] =
    "El servidor %1 env\xED"
    "a la libreta a otra direcci\xF3n, %2, y Contavio no le da la contrase\xF1"
    "a sin que usted lo confirme: no es que la contrase\xF1"
    "a est\xE9 mal.";
inline constexpr char kDavSendPasswordAdvice[] =
    "Si esa direcci\xF3n es de fiar, repita con --send-password-to %1 (se recuerda para esta "
    "cuenta).";
inline constexpr char kDavSendPasswordQuestion[] =
    "El servidor %1 env\xED"
    "a la libreta a otra direcci\xF3n, %2. \xBFLe env\xED"
    "a la contrase\xF1"
    "a tambi\xE9n all\xED? Se recuerda para esta cuenta.";
inline constexpr char kDavWithheldCard[] =
    "el servidor %1 no la entrega (%2): no se sincroniza; las dem\xE1s s\xED";
inline constexpr char kDavWithheldForbidden[] = "respuesta 403, sin permiso";
inline constexpr char kDavWithheldMissing[] = "respuesta 404, no existe";
inline constexpr char kDavWithheldOther[] = "respuesta %1";
inline constexpr char kDavTruncated[] =
    "El servidor %1 entrega la lista de tarjetas a medias (507) sin decir c\xF3mo seguir: no se "
    "sincroniza, para no tomar una parte por la libreta entera.";
inline constexpr char kDavEndlessListing[] =
    "El servidor %1 entrega la lista de tarjetas a medias (507) parte tras parte sin llegar al "
    "final (%2 partes): no se sincroniza, para no tomar una parte por la libreta entera.";
inline constexpr char kDavRedirectPlain[] =
    "El servidor %1 redirige a %2, una direcci\xF3n http:// sin cifrar hacia otra m\xE1quina: la "
    "contrase\xF1"
    "a y los contactos viajar\xED"
    "an legibles por la red, y no se sigue (--allow-http lo acepta).";
inline constexpr char kDavRedirectAway[] =
    "El servidor %1 env\xED"
    "a la libreta a otra direcci\xF3n, %2, en plena sincronizaci\xF3n: no se sigue, y nada se "
    "env\xED"
    "a all\xED. Si la libreta se mud\xF3, sincronice con su direcci\xF3n nueva.";
inline constexpr char kDavRedirectScheme[] =
    "El servidor %1 redirige a %2, que no es una direcci\xF3n http:// ni https://: no se sigue.";
inline constexpr char kDavNetClosed[] =
    "Se cort\xF3 la comunicaci\xF3n con el servidor %1: cerr\xF3 la conexi\xF3n.";
inline constexpr char kDavNetTls[] =
    "No se pudo establecer la conexi\xF3n cifrada (TLS) con el servidor %1.";
inline constexpr char kDavNetUnreachable[] =
    "La red no est\xE1 disponible para llegar al servidor %1.";
inline constexpr char kDavNetProxy[] = "No se pudo llegar al servidor %1 a trav\xE9s del proxy.";
inline constexpr char kDavNetProtocol[] =
    "El servidor %1 respondi\xF3 algo que no es HTTP v\xE1lido.";
inline constexpr char kDavNetOther[] =
    "Se cort\xF3 la comunicaci\xF3n con el servidor %1 (error de red %2).";
inline constexpr char kDavOnlyReadOnly[] =
    "El servidor %1 solo tiene libretas de solo lectura para usted (%2): la sincronizaci\xF3n "
    "necesita una libreta en la que pueda escribir.";
inline constexpr char kDavProgressRead[] =
    "Tarjetas le\xED"
    "das del servidor: %1 de %2";
inline constexpr char kDavProgressSent[] = "Tarjetas enviadas al servidor: %1 de %2";

}  // namespace contavio::text
