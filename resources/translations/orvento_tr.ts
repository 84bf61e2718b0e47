<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="tr_TR">
<context>
    <name>Errors</name>
    <message>
        <source>Audio Error</source>
        <translation>Ses Hatası</translation>
    </message>
    <message>
        <source>Attempt to play streaming audio failed.</source>
        <translation>Yayındaki sesi çalma girişimi başarısız oldu.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>Tamam</translation>
    </message>
</context>
<context>
    <name>OrventoViewController</name>
    <message>
        <source>Live air-traffic control radio</source>
        <translation>Canlı hava trafik kontrol telsizi</translation>
    </message>
    <message>
        <source>STATION</source>
        <translation>İSTASYON</translation>
    </message>
    <message>
        <source>No station chosen</source>
        <translation>İstasyon seçilmedi</translation>
    </message>
    <message>
        <source>Station name</source>
        <translation>İstasyon adı</translation>
    </message>
    <message>
        <source>&amp;Stations</source>
        <translation>İ&amp;stasyonlar</translation>
    </message>
    <message>
        <source>Choose a station from the list</source>
        <translation>Listeden bir istasyon seçin</translation>
    </message>
    <message>
        <source>Stations</source>
        <translation>İstasyonlar</translation>
    </message>
    <message>
        <source>STREAM &amp;ADDRESS</source>
        <translation>YAYIN &amp;ADRESİ</translation>
    </message>
    <message>
        <source>Stream address</source>
        <translation>Yayın adresi</translation>
    </message>
    <message>
        <source>LISTENING TIME</source>
        <translation>DİNLEME SÜRESİ</translation>
    </message>
    <message>
        <source>Listening time</source>
        <translation>Dinleme süresi</translation>
    </message>
    <message>
        <source>WEATHER AT ISTANBUL (LTBA)</source>
        <translation>İSTANBUL HAVA DURUMU (LTBA)</translation>
    </message>
    <message>
        <source>Weather report</source>
        <translation>Hava durumu raporu</translation>
    </message>
    <message>
        <source>The latest METAR observation and TAF forecast appear here.</source>
        <translation>En son METAR gözlemi ve TAF tahmini burada görünür.</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Çal</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Durdur</translation>
    </message>
    <message>
        <source>Connecting, press to stop</source>
        <translation>Bağlanıyor, durdurmak için basın</translation>
    </message>
    <message>
        <source>Type a stream address first.</source>
        <translation>Önce bir yayın adresi yazın.</translation>
    </message>
    <message>
        <source>“%1” is not a stream address.</source>
        <translation>“%1” bir yayın adresi değil.</translation>
    </message>
    <message>
        <source>Playback failed: %1</source>
        <translation>Çalma başarısız oldu: %1</translation>
    </message>
    <message>
        <source>The stream could not be opened: %1</source>
        <translation>Yayın açılamadı: %1</translation>
    </message>
    <message>
        <source>The stream could not be opened.</source>
        <translation>Yayın açılamadı.</translation>
    </message>
    <message>
        <source>Stopped.</source>
        <translation>Durduruldu.</translation>
    </message>
    <message>
        <source>Playback ended.</source>
        <translation>Çalma sona erdi.</translation>
    </message>
    <message>
        <source>Connecting…</source>
        <translation>Bağlanıyor…</translation>
    </message>
    <message>
        <source>Playing</source>
        <translation>Çalıyor</translation>
    </message>
    <message>
        <source>Press play to listen.</source>
        <translation>Dinlemek için çal düğmesine basın.</translation>
    </message>
    <message>
        <source>Loading the stations and the weather…</source>
        <translation>İstasyonlar ve hava durumu yükleniyor…</translation>
    </message>
    <message>
        <source>Could not load the station list from %1. Type a stream address.</source>
        <translation>İstasyon listesi %1 adresinden yüklenemedi. Bir yayın adresi yazın.</translation>
    </message>
    <message>
        <source>The station list from %1 could not be read. Type a stream address.</source>
        <translation>%1 adresinden gelen istasyon listesi okunamadı. Bir yayın adresi yazın.</translation>
    </message>
    <message>
        <source>The station list from %1 holds no station. Type a stream address.</source>
        <translation>%1 adresinden gelen istasyon listesinde istasyon yok. Bir yayın adresi yazın.</translation>
    </message>
    <message>
        <source>The station list from %1 is larger than 4 MiB, more than Orvento reads. Type a stream address.</source>
        <translation>%1 adresinden gelen istasyon listesi 4 MiB'tan büyük, Orvento'nun okuduğundan fazla. Bir yayın adresi yazın.</translation>
    </message>
    <message>
        <source>The address is longer than the %1 characters the address field holds; it was not requested.</source>
        <translation>Adres, adres alanının tuttuğu %1 karakterden uzun; istenmedi.</translation>
    </message>
    <message>
        <source>(No report: %1)</source>
        <translation>(Rapor yok: %1)</translation>
    </message>
    <message>
        <source>it is larger than 256 KiB.</source>
        <translation>256 KiB'tan büyük.</translation>
    </message>
    <message>
        <source>it is not UTF-8 text.</source>
        <translation>UTF-8 metin değil.</translation>
    </message>
    <message>
        <source>it holds control characters, not text.</source>
        <translation>metin değil, denetim karakterleri içeriyor.</translation>
    </message>
</context>
</TS>
