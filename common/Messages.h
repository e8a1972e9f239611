#pragma once
// The program's own texts, in one place. Written here in UTF-8 and held as the CP1250
// bytes that the engine reports, raises and sends.
#include <string>
#include <string_view>

#include "common/Cp1250.h"

namespace zv::msg {

inline std::string Cp(std::string_view utf8) { return Utf8ToCp1250(utf8); }

// Synchronisation primitives.
inline const std::string WaitForFailed = "WaitFor TSignal failed.";

// Serial port.
inline std::string PortNelzeVybrat(const std::string& n) { return "Port " + n + Cp(" nelze vybrat."); }
inline std::string NelzeAlokovatBuffery(const std::string& n) { return "Nelze alokovat buffery pro " + n + "."; }
inline std::string NelzeZiskatNastaveni(const std::string& n) { return Cp("Nelze získat nastavení portu ") + n + "."; }
inline const std::string NelzeNastavitParametry = "Nelze nastavit parametry.";
inline std::string NelzeNastavitTimeouty(const std::string& n) { return "Nelze nastavit timeouty pro " + n + "."; }
inline std::string NelzeNastavitMasku(const std::string& n) { return Cp("Nelze nastavit masku událostí pro ") + n + "."; }
inline const std::string GetCommStateFailed = "GetCommState failed.";
inline const std::string SetCommStateFailed = "SetCommState failed.";
inline const std::string NelzeResetovatMasku = Cp("Nelze resetovat masku událostí.");

// Telegram exchange.
inline const std::string InvalidPbtLength = "Invalid PBT length.";
inline const std::string GetCommTimeoutsFailed = "GetCommTimeouts failed.";
inline const std::string SetCommTimeoutsFailed = "SetCommTimeouts failed.";
inline const std::string WriteFileFailed = "WriteFile failed.";
inline const std::string ReadFileFailed = "ReadFile failed.";

// Worker and job control.
inline const std::string NegativniOdpoved = Cp("Negativní odpověď.");
inline const std::string Zpracovano = Cp("Zpracováno ");
inline const std::string Radek = Cp(" řádek.");
inline const std::string Dokonceno = Cp("=== Dokončeno: ");
inline const std::string Preruseno = Cp("=== Přerušeno: ");
inline const std::string KonecUlohy = " ===";

// Script lines.
inline const std::string OdesilaSePrikaz = Cp("Odesílá se příkaz: ");
inline const std::string OpakujeSePrikaz = Cp("Opakuje se příkaz: ");
inline const std::string Odpoved = Cp("Odpověď: ");
inline const std::string Zastaven = "Zastaven.";
inline const std::string BezOdezvy = "Bez odezvy.";
inline const std::string PrazdnaOdpoved = Cp("Prázdná odpověď.");
inline const std::string NespravnaOdezva = Cp("Nesprávná odezva: ");
inline const std::string NespravnaOdpovedReply = Cp("Nesprávná odpověď: ");

// Script files.
inline const std::string SouborPrefix = "Soubor:";
inline const std::string RadekPrefix = Cp(" řádek:");
inline const std::string IndexSeparator = " :";
inline std::string CannotOpenFile(const std::string& name) { return "Cannot open file " + name; }
inline const std::string PrilisMnohoVnorenych = Cp("Příliš mnoho vnořených souborů.");

// S-record download.
inline const std::string VadnyRadek = Cp("Vadný řádek: ");
inline const std::string OdesilaSeSBlok = Cp("Odesílá se s-blok 0x");
inline const std::string OdesilaSeNBlok = Cp("Odesílá se n-blok 0x");
inline const std::string OpakujeSeSBlok = "Opakuje se s-blok 0x";
inline const std::string OpakujeSeNBlok = "Opakuje se n-blok 0x";
inline const std::string NeocekavanyTelegram = Cp("Neočekávaný telegram.");
inline const std::string Odezva = "Odezva: ";
inline const std::string NespravnaOdpoved = Cp("Nesprávná odpověď.");
inline const std::string BlokNaNuleNeodesila = Cp("Blok na adrese 0x000000 se neodesílá.");

// Conversion of a hexadecimal field.
inline std::string NotValidInteger(const std::string& text) { return "'" + text + "' is not a valid integer value"; }

// Memory dump and load.
inline const std::string ChybaSyntaxe = "Chyba syntaxe.";
inline const std::string UnexpectedResponse = "Unexpected response:";
inline const std::string NelzeZapsatDoSouboru = "Nelze zapsat do souboru:";
inline const std::string NelzeOtevritSoubor = Cp("Nelze otevřít soubor:");
inline const std::string NelzeCistZeSouboru = Cp("Nelze číst ze souboru:");
inline const std::string SouborPresahuje = Cp("Soubor přesahuje konec adresního prostoru.");

// Service commands.
inline const std::string ChybnyPrikazSpeed = Cp("Chybný příkaz @speed.");
inline const std::string NevhodnaVychoziRychlost = Cp("Nevhodná výchozí rychlost.");
inline const std::string ChybneUrceniRychlosti = Cp("Chybné určení rychlosti.");
inline const std::string AccessDenied = "Access denied.";
inline const std::string NegativeResponse = "Negative response";
inline const std::string ChybnyPrikazSsn = Cp("Chybný příkaz @SSN.");
inline const std::string NelzeZapsatRekord = "Nelze zapsat do souboru:rexa01.prn";

// Front ends.
inline const std::string Caption = "Zavlo384 ver.0.9a";
inline std::string CannotCreateFile(const std::string& name) { return "Cannot create file " + name; }

// Batch front end: why a port could not be opened, found by a look at its device.
inline std::string ZarizeniNeexistuje(const std::string& dev) { return Cp("Zařízení ") + dev + " neexistuje."; }
inline std::string ZarizeniBezPristupu(const std::string& dev) {
    return Cp("K zařízení ") + dev + Cp(" nemáte přístup; přidejte uživatele do skupiny dialout "
                                       "(sudo usermod -aG dialout $USER) a přihlaste se znovu.");
}
inline std::string ZarizeniObsazeno(const std::string& dev) { return Cp("Zařízení ") + dev + Cp(" používá jiný program."); }
inline std::string ZarizeniNeniPort(const std::string& dev) { return Cp("Zařízení ") + dev + Cp(" není sériový port."); }

}  // namespace zv::msg
