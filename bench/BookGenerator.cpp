#include "BookGenerator.h"

#include <array>
#include <string_view>
#include <unordered_set>

namespace contavio::bench {

namespace {

// splitmix64: small, fast and the same on every platform.
class Rng {
  public:
    explicit Rng(uint64_t seed) : state_(seed) {}

    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in 0..n-1 (the bias of a 64-bit modulo is negligible here).
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }

    template <size_t N>
    std::string_view pick(const std::array<std::string_view, N>& items) {
        return items[below(static_cast<uint32_t>(N))];
    }

  private:
    uint64_t state_;
};

// clang-format off
constexpr auto kFirstNames = std::to_array<std::string_view>({
    "Mar\xED" "a", "Jos\xE9", "Luc\xED" "a", "Sof\xED" "a", "Andr\xE9s", "Jes\xFAs", "Ra\xFAl",
    "Iv\xE1n", "Rub\xE9n", "\xC1ngel", "Mart\xEDn", "Adri\xE1n", "Sebasti\xE1n", "Ram\xF3n",
    "In\xE9s", "Bel\xE9n", "Roc\xEDo", "Concepci\xF3n", "Asunci\xF3n", "Ver\xF3nica", "M\xF3nica",
    "Ana", "Carmen", "Isabel", "Pilar", "Dolores", "Teresa", "Rosa", "Cristina", "Marta", "Elena",
    "Laura", "Paula", "Nuria", "Silvia", "Patricia", "Raquel", "Beatriz", "Alicia", "Irene", "Juan",
    "Antonio", "Manuel", "Francisco", "David", "Javier", "Daniel", "Carlos", "Miguel", "Pedro",
    "Pablo", "Alejandro", "Sergio", "Fernando", "Jorge", "Alberto", "Luis", "Diego", "Enrique",
    "Vicente", "Ignacio", "Nicol\xE1s", "Germ\xE1n", "Gonzalo", "Eva", "Julia", "Clara", "Lorena",
    "Noelia", "Amparo", "Montserrat", "Encarnaci\xF3n", "Mercedes", "Josefa", "Emilio", "Ricardo",
    "Tom\xE1s", "Joaqu\xEDn", "Agust\xEDn", "Cecilia"
});

constexpr auto kSurnames = std::to_array<std::string_view>({
    "Garc\xED" "a", "Mart\xEDnez", "L\xF3pez", "S\xE1nchez", "P\xE9rez", "G\xF3mez", "Fern\xE1ndez",
    "Gonz\xE1lez", "Rodr\xEDguez", "Hern\xE1ndez", "D\xED" "az", "Mu\xF1oz", "\xC1lvarez",
    "Jim\xE9nez", "Ruiz", "Moreno", "Romero", "Alonso", "Guti\xE9rrez", "Navarro", "Torres",
    "Dom\xEDnguez", "V\xE1zquez", "Ramos", "Gil", "Ram\xEDrez", "Serrano", "Blanco", "Su\xE1rez",
    "Molina", "Morales", "Ortega", "Delgado", "Castro", "Ortiz", "Rubio", "Mar\xEDn", "Sanz",
    "N\xFA\xF1" "ez", "Iglesias", "Medina", "Garrido", "Cort\xE9s", "Castillo", "Santos", "Lozano",
    "Guerrero", "Cano", "Prieto", "M\xE9ndez", "Cruz", "Calvo", "Gallego", "Vidal", "Le\xF3n",
    "Herrera", "M\xE1rquez", "Pe\xF1" "a", "Cabrera", "Flores", "Campos", "Vega", "Fuentes",
    "Carrasco", "D\xED" "ez", "Caballero", "Reyes", "Nieto", "Aguilar", "Pascual", "Santana",
    "Herrero", "Montero", "Lorenzo", "Hidalgo", "Gim\xE9nez", "Ib\xE1\xF1" "ez", "Ferrer",
    "Dur\xE1n", "Santiago", "Ben\xEDtez", "Mora", "Vargas", "Arias", "Carmona", "Crespo",
    "Rom\xE1n", "Pastor", "Soto", "S\xE1" "ez", "Velasco", "Soler", "Ordu\xF1" "a", "Ca\xF1" "as",
    "Zu\xF1iga", "\xD1\xFA\xF1" "ez"
});

// Exactly one street holds kFivePercentFragment.
constexpr auto kStreets = std::to_array<std::string_view>({
    "de Alcal\xE1", "Mayor", "del Sol", "de la Paz", "de Cervantes", "del Prado", "de Col\xF3n",
    "de Espa\xF1" "a", "San Mart\xEDn", "de la Constituci\xF3n", "del Olivo", "de las Flores",
    "Real", "Nueva", "del Carmen", "de Goya", "de Le\xF3n", "del Rosario", "de Sevilla",
    "de Toledo"
});

constexpr auto kStreetKinds = std::to_array<std::string_view>({
    "Calle", "Avenida", "Paseo", "Plaza", "Camino", "Ronda"
});

constexpr auto kCities = std::to_array<std::string_view>({
    "Madrid", "Sevilla", "M\xE1laga", "C\xF3rdoba", "C\xE1" "diz", "Ja\xE9n", "Logro\xF1o",
    "A Coru\xF1" "a", "Valencia", "Bilbao", "Zaragoza", "Almer\xED" "a", "\xC1vila", "Le\xF3n",
    "Castell\xF3n", "Valladolid"
});

constexpr auto kMonths = std::to_array<std::string_view>({
    "Enero", "Febrero", "Marzo", "Abril", "Mayo", "Junio", "Julio", "Agosto", "Setiembre",
    "Octubre", "Noviembre", "Diciembre"
});

constexpr auto kWebSuffixes = std::to_array<std::string_view>({
    ".es", ".com", ".org", ".net", ".eu"
});

constexpr auto kNotes = std::to_array<std::string_view>({
    "Cumplea\xF1os en familia.",
    "Llamar despu\xE9s de las 18:00.",
    "Conocido del trabajo.",
    "Prefiere el correo electr\xF3nico.",
    "Vive en el extranjero parte del a\xF1o.",
    "Le gusta el f\xFAtbol y la m\xFAsica cl\xE1sica.",
    "Compa\xF1" "ero de la universidad.",
    "Debe un libro desde el verano.",
    "Vecino del tercer piso.",
    "Al\xE9rgico a los frutos secos.",
    "Reuni\xF3n anual en diciembre.",
    "Tel\xE9" "fono del trabajo solo por la ma\xF1" "ana."
});

constexpr auto kMailDomains = std::to_array<std::string_view>({
    "correo.es", "telefonica.net", "gmail.com", "yahoo.es", "hotmail.com", "empresa.es"
});

// clang-format on

// Lower-case ASCII for e-mail and web addresses: accented letters lose their
// accent, blanks become dots.
std::string asciiLower(std::string_view text) {
    constexpr std::string_view kAccented = "\xE1\xC1\xE9\xC9\xED\xCD\xF3\xD3\xFA\xDA\xFC\xF1\xD1";
    constexpr std::string_view kPlain = "aaeeiioouuunn";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        if (const size_t i = kAccented.find(ch); i != std::string_view::npos) {
            out += kPlain[i];
        } else if (ch == ' ') {
            out += '.';
        } else if (ch >= 'A' && ch <= 'Z') {
            out += static_cast<char>(ch + ('a' - 'A'));
        } else {
            out += ch;
        }
    }
    return out;
}

std::string digits(Rng& rng, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += static_cast<char>('0' + rng.below(10));
    return out;
}

std::string firstNames(Rng& rng) {
    std::string names(rng.pick(kFirstNames));
    if (rng.chance(80)) {
        names += ' ';
        names += rng.pick(kFirstNames);
    }
    return names;
}

std::string surnames(Rng& rng) {
    std::string s(rng.pick(kSurnames));
    s += ' ';
    s += rng.pick(kSurnames);
    return s;
}

std::string address(Rng& rng) {
    std::string a(rng.pick(kStreetKinds));
    a += ' ';
    a += rng.pick(kStreets);
    a += ' ';
    a += std::to_string(1 + rng.below(180));
    if (rng.chance(60)) {
        a += ", ";
        a += std::to_string(1 + rng.below(12));
        a += "\xBA ";  // ordinal indicator
        a += static_cast<char>('A' + rng.below(6));
    }
    a += ", ";
    a += rng.pick(kCities);
    return a;
}

std::string notes(Rng& rng) {
    const uint32_t n = rng.below(4);
    if (n == 0) return "n/a";
    std::string text;
    for (uint32_t i = 0; i < n; ++i) {
        if (i > 0) text += ' ';
        text += rng.pick(kNotes);
    }
    return text;
}

std::string phone(Rng& rng) {
    // Mobile "+34 6xx xxx xxx" or landline "9x xxx xx xx".
    const bool mobile = rng.chance(50);
    std::string number = mobile ? "+34 6" : "9";
    const int groups[2][4] = {{2, 3, 3, 0}, {1, 3, 2, 2}};
    for (int g = 0; g < 4 && groups[mobile ? 0 : 1][g] > 0; ++g) {
        if (g > 0) number += ' ';
        number += digits(rng, groups[mobile ? 0 : 1][g]);
    }
    return number;
}

}  // namespace

std::vector<Contact> generateBook(int64_t count, uint64_t seed) {
    Rng rng(seed);
    std::vector<Contact> book;
    book.reserve(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        Contact c;
        c.fields.resize(kStringFields);
        if (i > 0 && rng.chance(2)) {
            // Same names and surnames as an earlier contact: the key collides.
            const Contact& earlier = book[rng.below(static_cast<uint32_t>(i))];
            c.fields[kFieldNames] = earlier.fields[kFieldNames];
            c.fields[kFieldSurnames] = earlier.fields[kFieldSurnames];
        } else {
            c.fields[kFieldNames] = firstNames(rng);
            c.fields[kFieldSurnames] = surnames(rng);
        }
        if (rng.chance(3)) {
            // Typed without capitals: another key, the same place in the results.
            for (int f : {kFieldNames, kFieldSurnames}) {
                for (char& ch : c.fields[f]) {
                    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + ('a' - 'A'));
                }
            }
        }
        c.fields[kFieldKey] = c.fields[kFieldNames] + c.fields[kFieldSurnames];
        c.fields[kFieldAddress] = address(rng);
        const std::string person =
            asciiLower(c.fields[kFieldNames].substr(0, c.fields[kFieldNames].find(' '))) + "." +
            asciiLower(c.fields[kFieldSurnames].substr(0, c.fields[kFieldSurnames].find(' ')));
        c.fields[kFieldWeb] =
            rng.chance(40) ? "www." + person + std::string(rng.pick(kWebSuffixes)) : "n/a";
        if (rng.chance(90)) {
            c.fields[kFieldDay] = std::to_string(1 + rng.below(31));
            c.fields[kFieldMonth] = std::string(rng.pick(kMonths));
        } else {
            c.fields[kFieldDay] =
                "D\xED"
                "a";
            c.fields[kFieldMonth] = "Mes";
        }
        c.fields[kFieldNotes] = notes(rng);
        const uint32_t mails = rng.below(3);
        for (uint32_t m = 0; m < mails; ++m) {
            c.emails.push_back(person + (m > 0 ? std::to_string(m) : std::string()) + "@" +
                               std::string(rng.pick(kMailDomains)));
        }
        const uint32_t phones = rng.below(4);
        for (uint32_t p = 0; p < phones; ++p) c.phones.push_back(phone(rng));
        book.push_back(std::move(c));
    }
    return book;
}

int64_t distinctKeys(const std::vector<Contact>& book) {
    std::unordered_set<std::string_view> keys;
    keys.reserve(book.size());
    for (const Contact& c : book) keys.insert(c.fields[kFieldKey]);
    return static_cast<int64_t>(keys.size());
}

}  // namespace contavio::bench
