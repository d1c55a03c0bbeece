#include "Pages.h"

namespace CampusSim::Pages {
namespace {

// Like the campus's CGI pages: HTML 3 style, line feeds in the source, Windows-1252 bytes (the
// en dash 0x96 in the title) and lower-case umlaut entities in the texts.
std::string page(const std::string &center)
{
    return "<html>\n"
           "<head>\n"
           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">\n"
           "<title>ZEPA Netzzugang \x96 Anmeldung</title>\n"
           "</head>\n"
           "<body bgcolor=\"#ffffff\">\n"
           "<center>\n" +
           center +
           "</center>\n"
           "<hr>\n"
           "<address>Rechenzentrum ZEPA, Netzzugang</address>\n"
           "</body>\n"
           "</html>\n";
}

// The title ends at the first "<br>" and the message at "<br><br>"; everything around them is
// decoration the program must not depend on.
std::string answer(const std::string &title, const std::string &message, const std::string &tail = {})
{
    return page("<big><big>" + title + "<br>\n</big></big>\n<small><small>" + message +
                "<br><br>\n</small></small>\n" + tail);
}

} // namespace

std::string loginForm()
{
    return page("<big><big>ZEPA Netzzugang</big></big>\n"
                "<form method=\"post\" action=\"/cgi-bin/laklogin\">\n"
                "Benutzername: <input type=\"text\" name=\"username\" maxlength=\"8\"><br>\n"
                "Passwort: <input type=\"password\" name=\"password\" maxlength=\"8\"><br>\n"
                "<input type=\"checkbox\" name=\"ShowTraffic\" value=\"1\"> Umsatz anzeigen<br>\n"
                "<input type=\"submit\" name=\"action\" value=\"Login\">\n"
                "<input type=\"submit\" name=\"action\" value=\"Logout\">\n"
                "</form>\n");
}

std::string loginSuccess(const std::string &user, const std::string &address,
                         const std::string &statisticLink)
{
    std::string tail;
    if (!statisticLink.empty())
        // Unquoted on purpose: the program takes the link up to the next ">".
        tail = "<p>Ihr Umsatz: <a href=" + statisticLink + ">Umsatzstatistik</a></p>\n";
    tail += "<p>Bitte melden Sie sich ab, wenn Sie das Netz nicht mehr brauchen.</p>\n";
    return answer("Authentisierung gelungen",
                  "Sie sind jetzt f&uuml;r das Internet freigeschaltet.<br>\nBenutzer: " + user +
                      ", Adresse: " + address,
                  tail);
}

std::string loginFailed()
{
    return answer("Authentisierung fehlgeschlagen", "Benutzername oder Passwort ung&uuml;ltig.");
}

std::string accountBlocked(const std::string &down, const std::string &up)
{
    // The line feed behind the download figure is part of the campus's pages.
    return answer("Account gesperrt",
                  "Ihr Account wurde wegen zu hohen Umsatzes vor&uuml;bergehend gesperrt.<br>\n"
                  "Download der letzten 24 Stunden in MB (max. 700): " +
                      down + "\n<br>\nUpload der letzten 24 Stunden in MB (max. 350): " + up);
}

std::string logoutDone(bool wasLoggedIn)
{
    return answer("Logout erfolgreich",
                  wasLoggedIn ? "Sie sind jetzt abgemeldet. Der Zugang ins Internet ist gesperrt."
                              : "Sie waren nicht angemeldet.");
}

std::string unknownAction()
{
    return answer("Unbekannte Aktion", "Bitte benutzen Sie das Formular.");
}

std::string errorPage(int status, const std::string &reason)
{
    const std::string line = std::to_string(status) + " " + reason;
    return "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>" + line +
           "</title>\n</head><body>\n<h1>" + reason +
           "</h1>\n<p>The server encountered an internal error or\nmisconfiguration and was unable to "
           "complete\nyour request.</p>\n</body></html>\n";
}

std::string withoutMarkers(Server server)
{
    switch (server) {
    case Server::Login:
        return page("<h1>Wartungsarbeiten</h1>\n<p>Der Netzzugang ist gleich wieder f&uuml;r Sie da.</p>\n");
    case Server::Echo1:
    case Server::Echo2:
        return "<html><head><title>Address lookup</title></head>\n<body><p>Service temporarily "
               "unavailable.</p></body></html>\n";
    case Server::Notice:
        return "Zur Zeit keine Mitteilungen.\r\n";
    case Server::Statistic:
        return "<html><head><title>Umsatzstatistik</title></head>\n<body><p>Die Statistik wird gerade "
               "berechnet.</p></body></html>\n";
    }
    return {};
}

std::string echo2(const std::string &address)
{
    return "<html>\n<head><title>What is my IP address?</title></head>\n<body>\n<p>Your IP: " + address +
           " <!--    END PRINT TIME AND DATE    -->\n</p>\n</body>\n</html>\n";
}

std::string notice()
{
    return " RZTEXT Mitteilungen des Rechenzentrums\r\n"
           "\r\n"
           "Am Samstag wird das Campusnetz zwischen 8 und 12 Uhr gewartet.\r\n"
           "W\xe4hrend dieser Zeit ist der Zugang ins Internet gest\xf6rt.\r\n"
           "\r\n"
           "Ihr Rechenzentrum\r\n";
}

std::string filler(Server server)
{
    if (server == Server::Notice || server == Server::Echo1)
        return std::string(1024, '0') + "\r\n";
    return "<!-- " + std::string(1014, '.') + " -->\n";
}

} // namespace CampusSim::Pages
