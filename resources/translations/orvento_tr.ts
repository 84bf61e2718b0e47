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
        <translation type="vanished">İSTANBUL HAVA DURUMU (LTBA)</translation>
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
        <translation>%1 adresinden gelen istasyon listesi 4 MiB&apos;tan büyük, Orvento&apos;nun okuduğundan fazla. Bir yayın adresi yazın.</translation>
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
        <translation>256 KiB&apos;tan büyük.</translation>
    </message>
    <message>
        <source>it is not UTF-8 text.</source>
        <translation>UTF-8 metin değil.</translation>
    </message>
    <message>
        <source>it holds control characters, not text.</source>
        <translation>metin değil, denetim karakterleri içeriyor.</translation>
    </message>
    <message>
        <source>%1 at %2</source>
        <translation>%1 yönünden %2</translation>
    </message>
    <message>
        <source>%1 h %2 min ago</source>
        <translation>%1 sa %2 dk önce</translation>
    </message>
    <message>
        <source>%1 min ago</source>
        <translation>%1 dk önce</translation>
    </message>
    <message>
        <source>%1 to %2</source>
        <translation>%1 ile %2 arası</translation>
    </message>
    <message>
        <source>%1, dew point %2</source>
        <translation>%1, çiy noktası %2</translation>
    </message>
    <message>
        <source>%1, favourite</source>
        <translation>%1, favori</translation>
    </message>
    <message>
        <source>&amp;Find a station</source>
        <translation>İstasyon &amp;bul</translation>
    </message>
    <message>
        <source>&amp;Play the last station at start</source>
        <translation>Açılışta son istasyonu ç&amp;al</translation>
    </message>
    <message>
        <source>&amp;Reload stations</source>
        <translation>İstasyonları &amp;yeniden yükle</translation>
    </message>
    <message>
        <source>, falling</source>
        <translation>, azalıyor</translation>
    </message>
    <message>
        <source>, rising</source>
        <translation>, artıyor</translation>
    </message>
    <message>
        <source>10 km or more</source>
        <translation>10 km veya daha fazla</translation>
    </message>
    <message>
        <source>AIR&amp;PORT</source>
        <translation>HAVA&amp;LİMANI</translation>
    </message>
    <message>
        <source>AS ISSUED</source>
        <translation>YAYIMLANDIĞI GİBİ</translation>
    </message>
    <message>
        <source>Airport</source>
        <translation>Havalimanı</translation>
    </message>
    <message>
        <source>All</source>
        <translation>Tümü</translation>
    </message>
    <message>
        <source>CAVOK: 10 km or more, no significant cloud</source>
        <translation>CAVOK: 10 km veya daha fazla, önemli bulut yok</translation>
    </message>
    <message>
        <source>Ceiling</source>
        <translation>Tavan</translation>
    </message>
    <message>
        <source>Clouds</source>
        <translation>Bulutlar</translation>
    </message>
    <message>
        <source>Could not decode the METAR: %1.</source>
        <translation>METAR çözülemedi: %1.</translation>
    </message>
    <message>
        <source>Could not decode the TAF: %1.</source>
        <translation>TAF çözülemedi: %1.</translation>
    </message>
    <message>
        <source>Could not reload the station list from %1: %2. The list stays as it was.</source>
        <translation>İstasyon listesi %1 adresinden yeniden yüklenemedi: %2. Liste olduğu gibi kalıyor.</translation>
    </message>
    <message>
        <source>Fetch the latest METAR and TAF again</source>
        <translation>En son METAR ve TAF&apos;ı yeniden al</translation>
    </message>
    <message>
        <source>Fetching the weather at %1…</source>
        <translation>%1 hava durumu alınıyor…</translation>
    </message>
    <message>
        <source>Issued %1 UTC</source>
        <translation>Yayım: %1 UTC</translation>
    </message>
    <message>
        <source>Issued %1 UTC, %2</source>
        <translation>Yayım: %1 UTC, %2</translation>
    </message>
    <message>
        <source>No METAR to decode.</source>
        <translation>Çözülecek METAR yok.</translation>
    </message>
    <message>
        <source>No TAF to decode.</source>
        <translation>Çözülecek TAF yok.</translation>
    </message>
    <message>
        <source>No favourites here. Star a station with ☆ or Space.</source>
        <translation>Henüz favori yok. Bir istasyonu ☆ ya da Boşluk ile yıldızlayın.</translation>
    </message>
    <message>
        <source>No station matches.</source>
        <translation>Eşleşen istasyon yok.</translation>
    </message>
    <message>
        <source>No station played here yet.</source>
        <translation>Henüz istasyon çalınmadı.</translation>
    </message>
    <message>
        <source>OLD</source>
        <translation>ESKİ</translation>
    </message>
    <message>
        <source>QNH</source>
        <translation>QNH</translation>
    </message>
    <message>
        <source>RVR</source>
        <translation>RVR</translation>
    </message>
    <message>
        <source>Recent</source>
        <translation>Son çalınanlar</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Yenile</translation>
    </message>
    <message>
        <source>Refresh the &amp;weather</source>
        <translation>&amp;Hava durumunu yenile</translation>
    </message>
    <message>
        <source>Reloading the stations…</source>
        <translation>İstasyonlar yeniden yükleniyor…</translation>
    </message>
    <message>
        <source>Search stations</source>
        <translation>İstasyon ara</translation>
    </message>
    <message>
        <source>Search: name, frequency, airport</source>
        <translation>Ara: ad, frekans, havalimanı</translation>
    </message>
    <message>
        <source>TAF %1 · %2 · valid %3 to %4 UTC</source>
        <translation>TAF %1 · %2 · geçerlilik %3 – %4 UTC</translation>
    </message>
    <message>
        <source>Temperature</source>
        <translation>Sıcaklık</translation>
    </message>
    <message>
        <source>The ICAO code of an airport, four letters such as LTFM</source>
        <translation>Bir havalimanının ICAO kodu, LTFM gibi dört harf</translation>
    </message>
    <message>
        <source>The decoded METAR appears here.</source>
        <translation>Çözülmüş METAR burada görünür.</translation>
    </message>
    <message>
        <source>The station list from %1 could not be read. The list stays as it was.</source>
        <translation>%1 adresindeki istasyon listesi okunamadı. Liste olduğu gibi kalıyor.</translation>
    </message>
    <message>
        <source>The station list from %1 holds no station. The list stays as it was.</source>
        <translation>%1 adresindeki istasyon listesinde istasyon yok. Liste olduğu gibi kalıyor.</translation>
    </message>
    <message>
        <source>The station list from %1 is larger than 4 MiB, more than Orvento reads. The list stays as it was.</source>
        <translation>%1 adresindeki istasyon listesi 4 MiB&apos;tan büyük, Orvento&apos;nun okuyabileceğinden fazla. Liste olduğu gibi kalıyor.</translation>
    </message>
    <message>
        <source>The station list is reloaded: %1 stations.</source>
        <translation>İstasyon listesi yeniden yüklendi: %1 istasyon.</translation>
    </message>
    <message>
        <source>This METAR is more than 90 minutes old.</source>
        <translation>Bu METAR 90 dakikadan eski.</translation>
    </message>
    <message>
        <source>Visibility</source>
        <translation>Görüş</translation>
    </message>
    <message>
        <source>Weather</source>
        <translation>Hava durumu</translation>
    </message>
    <message>
        <source>Wind</source>
        <translation>Rüzgâr</translation>
    </message>
    <message>
        <source>“%1” is not an airport code: type the four letters of its ICAO code, such as LTFM.</source>
        <translation>“%1” bir havalimanı kodu değil: LTFM gibi, ICAO kodunun dört harfini yazın.</translation>
    </message>
    <message>
        <source>★ Favourites</source>
        <translation>★ Favoriler</translation>
    </message>
    <message>
        <source>broken</source>
        <translation>parçalı</translation>
    </message>
    <message>
        <source>calm</source>
        <translation>sakin</translation>
    </message>
    <message>
        <source>cloud</source>
        <translation>bulut</translation>
    </message>
    <message>
        <source>few</source>
        <translation>az</translation>
    </message>
    <message>
        <source>gusts %1 kt</source>
        <translation>hamle %1 kt</translation>
    </message>
    <message>
        <source>issue time not given</source>
        <translation>yayım zamanı verilmemiş</translation>
    </message>
    <message>
        <source>less than %1</source>
        <translation>%1 altında</translation>
    </message>
    <message>
        <source>more than %1</source>
        <translation>%1 üzerinde</translation>
    </message>
    <message>
        <source>no category: visibility or sky not reported</source>
        <translation>kategori yok: görüş veya gökyüzü bildirilmemiş</translation>
    </message>
    <message>
        <source>no cloud detected</source>
        <translation>bulut saptanmadı</translation>
    </message>
    <message>
        <source>no significant cloud</source>
        <translation>önemli bulut yok</translation>
    </message>
    <message>
        <source>none</source>
        <translation>yok</translation>
    </message>
    <message>
        <source>not reported</source>
        <translation>bildirilmemiş</translation>
    </message>
    <message>
        <source>overcast</source>
        <translation>kapalı</translation>
    </message>
    <message>
        <source>runway %1: %2</source>
        <translation>pist %1: %2</translation>
    </message>
    <message>
        <source>scattered</source>
        <translation>dağınık</translation>
    </message>
    <message>
        <source>sky hidden, vertical visibility</source>
        <translation>gökyüzü görünmüyor, dikey görüş</translation>
    </message>
    <message>
        <source>variable at %1</source>
        <translation>değişken, %1</translation>
    </message>
    <message>
        <source>varying %1–%2</source>
        <translation>%1–%2 arasında değişken</translation>
    </message>
    <message>
        <source>Menu</source>
        <translation>Menü</translation>
    </message>
    <message>
        <source>Level</source>
        <translation>Seviye</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>Ses düzeyi</translation>
    </message>
    <message>
        <source>Pan, left to right</source>
        <translation>Denge, soldan sağa</translation>
    </message>
    <message>
        <source>M</source>
        <translation>M</translation>
    </message>
    <message>
        <source>Mute</source>
        <translation>Sessize al</translation>
    </message>
    <message>
        <source>S</source>
        <translation>S</translation>
    </message>
    <message>
        <source>Solo</source>
        <translation>Yalnız bunu dinle</translation>
    </message>
    <message>
        <source>P</source>
        <translation>Ö</translation>
    </message>
    <message>
        <source>Priority: the others dip while it speaks</source>
        <translation>Öncelik: bu konuşurken diğerlerinin sesi kısılır</translation>
    </message>
    <message>
        <source>↑</source>
        <translation>↑</translation>
    </message>
    <message>
        <source>Move up</source>
        <translation>Yukarı taşı</translation>
    </message>
    <message>
        <source>↓</source>
        <translation>↓</translation>
    </message>
    <message>
        <source>Move down</source>
        <translation>Aşağı taşı</translation>
    </message>
    <message>
        <source>×</source>
        <translation>×</translation>
    </message>
    <message>
        <source>Remove from the monitor</source>
        <translation>İzlemeden çıkar</translation>
    </message>
    <message>
        <source>Vol</source>
        <translation>Ses</translation>
    </message>
    <message>
        <source>L</source>
        <translation>Sol</translation>
    </message>
    <message>
        <source>R</source>
        <translation>Sağ</translation>
    </message>
    <message>
        <source>Add the station to the &amp;monitor</source>
        <translation>İstasyonu &amp;izlemeye ekle</translation>
    </message>
    <message>
        <source>Add station</source>
        <translation>İstasyon ekle</translation>
    </message>
    <message>
        <source>Choose a station and add it (Ctrl+M) to hear up to six at once.</source>
        <translation>Bir istasyon seçip ekleyin (Ctrl+M): aynı anda altı istasyona kadar dinleyin.</translation>
    </message>
    <message>
        <source>Stop monitor</source>
        <translation>İzlemeyi durdur</translation>
    </message>
    <message>
        <source>Play monitor</source>
        <translation>İzlemeyi başlat</translation>
    </message>
    <message>
        <source>Monitor</source>
        <translation>İzleme</translation>
    </message>
    <message>
        <source>&amp;Settings…</source>
        <translation>Aya&amp;rlar…</translation>
    </message>
    <message>
        <source>Transmissions</source>
        <translation>İletimler</translation>
    </message>
    <message>
        <source>Saying again what was said at %1. Escape: back to live.</source>
        <translation>%1 anındaki iletim yeniden çalınıyor. Esc: canlıya dön.</translation>
    </message>
    <message>
        <source>Saying again. Escape: back to live.</source>
        <translation>Yeniden çalınıyor. Esc: canlıya dön.</translation>
    </message>
    <message>
        <source>Recording to %1</source>
        <translation>Kaydediliyor: %1</translation>
    </message>
    <message>
        <source>Recording stopped: %1</source>
        <translation>Kayıt bitti: %1</translation>
    </message>
    <message>
        <source>Transmitting now</source>
        <translation>İletim sürüyor</translation>
    </message>
    <message>
        <source>Say again</source>
        <translation>Tekrarla</translation>
    </message>
    <message>
        <source>Play the last transmission again (R, or Alt+R in a text field); again to go further back</source>
        <translation>Son iletimi yeniden çal (R, metin alanında Alt+R); daha geriye gitmek için yine basın</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Kaydet</translation>
    </message>
    <message>
        <source>The selected transmissions</source>
        <translation>Seçili iletimler</translation>
    </message>
    <message>
        <source>The last minute</source>
        <translation>Son 1 dakika</translation>
    </message>
    <message>
        <source>The last %1 minutes</source>
        <translation>Son %1 dakika</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Kayda al</translation>
    </message>
    <message>
        <source>Record everything the station says, as it comes</source>
        <translation>İstasyonun söylediği her şeyi geldikçe kaydet</translation>
    </message>
    <message>
        <source>Transmissions heard</source>
        <translation>Duyulan iletimler</translation>
    </message>
    <message>
        <source>End replay</source>
        <translation>Tekrarı bitir</translation>
    </message>
    <message>
        <source>%1 s behind live</source>
        <translation>Canlıdan %1 sn geride</translation>
    </message>
    <message>
        <source>Live</source>
        <translation>Canlı</translation>
    </message>
    <message>
        <source>the server closed the connection</source>
        <translation>sunucu bağlantıyı kapattı</translation>
    </message>
    <message>
        <source>Reconnecting: %1</source>
        <translation>Yeniden bağlanıyor: %1</translation>
    </message>
    <message>
        <source>Reconnecting (attempt %1): %2</source>
        <translation>Yeniden bağlanıyor (%1. deneme): %2</translation>
    </message>
    <message>
        <source>Reconnecting in %1 s (attempt %2): %3</source>
        <translation>%1 sn sonra yeniden bağlanılacak (%2. deneme): %3</translation>
    </message>
    <message>
        <source>Waiting for the station: no audio for %1 s</source>
        <translation>İstasyon bekleniyor: %1 sn’dir ses yok</translation>
    </message>
    <message>
        <source>the station sent %1 bytes in %2 s, too little to play</source>
        <translation>istasyon %2 sn içinde %1 bayt gönderdi, çalmak için çok az</translation>
    </message>
    <message>
        <source>the station sent no audio for %1 s</source>
        <translation>istasyon %1 sn boyunca ses göndermedi</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Kopyala</translation>
    </message>
    <message>
        <source>Select &amp;All</source>
        <translation>&amp;Tümünü seç</translation>
    </message>
    <message>
        <source>S&amp;leep timer</source>
        <translation>&amp;Uyku zamanlayıcısı</translation>
    </message>
    <message>
        <source>&amp;Off</source>
        <translation>&amp;Kapalı</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 dakika</translation>
    </message>
    <message>
        <source>Let the last &amp;transmission finish</source>
        <translation>Son &amp;iletim bitsin</translation>
    </message>
    <message>
        <source>My stations</source>
        <translation>İstasyonlarım</translation>
    </message>
    <message>
        <source>Add station…</source>
        <translation>İstasyon ekle…</translation>
    </message>
    <message>
        <source>No station of your own yet: &quot;Add station…&quot; adds one.</source>
        <translation>Henüz kendi istasyonunuz yok: “İstasyon ekle…” ile ekleyebilirsiniz.</translation>
    </message>
    <message>
        <source>Rename…</source>
        <translation>Yeniden adlandır…</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Kaldır</translation>
    </message>
    <message>
        <source>Add station</source>
        <translation>İstasyon ekle</translation>
    </message>
    <message>
        <source>Rename station</source>
        <translation>İstasyonu yeniden adlandır</translation>
    </message>
    <message>
        <source>&amp;Name:</source>
        <translation>&amp;Ad:</translation>
    </message>
    <message>
        <source>&amp;Address:</source>
        <translation>A&amp;dres:</translation>
    </message>
    <message>
        <source>&amp;Add station…</source>
        <translation>İstasyon e&amp;kle…</translation>
    </message>
    <message>
        <source>That station is among your own already.</source>
        <translation>Bu istasyon zaten kendi istasyonlarınız arasında.</translation>
    </message>
    <message>
        <source>Directory</source>
        <translation>Dizin</translation>
    </message>
    <message>
        <source>The directory has not been fetched yet.</source>
        <translation>Dizin henüz alınmadı.</translation>
    </message>
    <message>
        <source>%1 kbit/s</source>
        <translation>%1 kbit/s</translation>
    </message>
    <message>
        <source>up</source>
        <translation>çalışıyor</translation>
    </message>
    <message>
        <source>down</source>
        <translation>erişilemedi</translation>
    </message>
    <message>
        <source>no directory server could be found (%1)</source>
        <translation>dizin sunucusu bulunamadı (%1)</translation>
    </message>
    <message>
        <source>an empty list</source>
        <translation>boş bir liste</translation>
    </message>
    <message>
        <source>the answer is not a list of stations</source>
        <translation>yanıt bir istasyon listesi değil</translation>
    </message>
    <message>
        <source>Updating the directory&apos;s list (fetched %1)…</source>
        <translation>Dizinin listesi güncelleniyor (%1 alındı)…</translation>
    </message>
    <message>
        <source>Fetching the directory&apos;s stations…</source>
        <translation>Dizinin istasyonları alınıyor…</translation>
    </message>
    <message>
        <source>The directory could not be reached (%1). This list was fetched %2.</source>
        <translation>Dizine ulaşılamadı (%1). Bu liste %2 alındı.</translation>
    </message>
    <message>
        <source>The directory could not be reached (%1). F5 tries again.</source>
        <translation>Dizine ulaşılamadı (%1). F5 yeniden dener.</translation>
    </message>
    <message>
        <source>%1 stations from the community directory, fetched %2.</source>
        <translation>Topluluk dizininden %1 istasyon, %2 alındı.</translation>
    </message>
    <message>
        <source>Updating the directory…</source>
        <translation>Dizin güncelleniyor…</translation>
    </message>
    <message>
        <source>The directory is updated: %1 stations.</source>
        <translation>Dizin güncellendi: %1 istasyon.</translation>
    </message>
    <message>
        <source>The directory could not be updated (%1). The list stays as it was.</source>
        <translation>Dizin güncellenemedi (%1). Liste olduğu gibi kalıyor.</translation>
    </message>
    <message>
        <source>just now</source>
        <translation>az önce</translation>
    </message>
    <message>
        <source>%1 h ago</source>
        <translation>%1 sa önce</translation>
    </message>
    <message>
        <source>%1 days ago</source>
        <translation>%1 gün önce</translation>
    </message>
    <message>
        <source>From %1, fetched %2 UTC.</source>
        <translation>Kaynak: %1, alındığı saat: %2 UTC.</translation>
    </message>
    <message>
        <source>Asked %1 at %2 UTC; no report came.</source>
        <translation>%1 sunucusuna %2 UTC saatinde soruldu; rapor gelmedi.</translation>
    </message>
    <message>
        <source>The latest fetch failed %1; the report shown is from %2, fetched %3.</source>
        <translation>Son alma başarısız oldu %1; gösterilen rapor %2 kaynağından, %3 alındı.</translation>
    </message>
    <message>
        <source>the answer is no report.</source>
        <translation>yanıt bir rapor değil.</translation>
    </message>
</context>
<context>
    <name>PlayerSettingsDialog</name>
    <message>
        <source>Player settings</source>
        <translation>Oynatıcı ayarları</translation>
    </message>
    <message>
        <source>&amp;Reconnect when the station drops</source>
        <translation>İstasyon kesilince &amp;yeniden bağlan</translation>
    </message>
    <message>
        <source>&amp;Keep the backlog</source>
        <translation>&amp;Birikmiş sesi koru</translation>
    </message>
    <message>
        <source>Play everything the station&apos;s server sends on connecting, however far behind live</source>
        <translation>Bağlanırken istasyon sunucusunun gönderdiği her şeyi, canlıdan ne kadar geride olursa olsun çal</translation>
    </message>
    <message>
        <source>Otherwise Orvento plays close to live without losing a word: it skips the quiet between transmissions and plays long speech a little faster until it has caught up.</source>
        <translation>Aksi halde Orvento tek kelime kaçırmadan canlıya yakın çalar: yetişene kadar iletimler arasındaki sessizliği atlar ve uzun konuşmaları biraz daha hızlı çalar.</translation>
    </message>
    <message>
        <source> min</source>
        <translation> dk</translation>
    </message>
    <message>
        <source>&amp;Transmissions kept for</source>
        <translation>İletimlerin &amp;saklanma süresi</translation>
    </message>
    <message>
        <source>Keep &amp;playing when the window is closed</source>
        <translation>Pencere kapanınca çalmaya &amp;devam et</translation>
    </message>
    <message>
        <source>The window hides in the tray; Quit in the tray&apos;s menu ends Orvento</source>
        <translation>Pencere sistem tepsisine gizlenir; tepsi menüsündeki Çık, Orvento&apos;yu kapatır</translation>
    </message>
    <message>
        <source>Desktop notifications</source>
        <translation>Masaüstü bildirimleri</translation>
    </message>
    <message>
        <source>A station &amp;back after a drop</source>
        <translation>Kesildikten sonra &amp;geri gelen istasyon</translation>
    </message>
    <message>
        <source>A station &amp;given up</source>
        <translation>&amp;Vazgeçilen istasyon</translation>
    </message>
    <message>
        <source>A priority station &amp;on the air (window hidden)</source>
        <translation>Yayında &amp;öncelikli istasyon (pencere gizliyken)</translation>
    </message>
    <message>
        <source>A recording &amp;stopped (disk full)</source>
        <translation>Durdurulan &amp;kayıt (disk dolu)</translation>
    </message>
    <message>
        <source>none (http://host:port of a catalogue)</source>
        <translation>yok (bir kataloğun http://sunucu:port adresi)</translation>
    </message>
    <message>
        <source>Station &amp;catalogue address (from the next start)</source>
        <translation>İstasyon &amp;kataloğu adresi (bir sonraki açılışta)</translation>
    </message>
</context>
<context>
    <name>orvento::AddressOpener</name>
    <message>
        <source>Opening %1…</source>
        <translation>%1 açılıyor…</translation>
    </message>
    <message>
        <source>%1 is not played: a playlist from the network may not open files of this computer.</source>
        <translation>%1 çalınmadı: ağdan gelen bir çalma listesi bu bilgisayarın dosyalarını açamaz.</translation>
    </message>
    <message>
        <source>%1 is not played: Orvento plays http and https addresses and playlist files.</source>
        <translation>%1 çalınmadı: Orvento http ve https adreslerini ve çalma listesi dosyalarını çalar.</translation>
    </message>
    <message>
        <source>%1 could not be read: %2</source>
        <translation>%1 okunamadı: %2</translation>
    </message>
    <message>
        <source>it is not a file</source>
        <translation>bu bir dosya değil</translation>
    </message>
    <message>
        <source>%1 is not a playlist (.pls, .m3u, .xspf or .asx); Orvento plays streams from http and https addresses.</source>
        <translation>%1 bir çalma listesi değil (.pls, .m3u, .xspf ya da .asx); Orvento yayınları http ve https adreslerinden çalar.</translation>
    </message>
    <message>
        <source>The playlist %1 is larger than 1 MiB.</source>
        <translation>%1 çalma listesi 1 MiB’tan büyük.</translation>
    </message>
    <message>
        <source>The playlist %1 is inside playlists more than %2 deep.</source>
        <translation>%1 çalma listesi, %2 düzeyden daha derin iç içe listelerin içinde.</translation>
    </message>
    <message>
        <source>The playlist %1 lists itself.</source>
        <translation>%1 çalma listesi kendini listeliyor.</translation>
    </message>
    <message>
        <source>The playlist %1 lists no station.</source>
        <translation>%1 çalma listesinde hiç istasyon yok.</translation>
    </message>
    <message>
        <source>%1 is no playlist: it is not text.</source>
        <translation>%1 bir çalma listesi değil: metin değil.</translation>
    </message>
    <message>
        <source>The playlist %1 lists more than %2 entries.</source>
        <translation>%1 çalma listesinde %2 kayıttan fazlası var.</translation>
    </message>
    <message>
        <source>%1 is an HLS stream (an .m3u8 of segments), which Orvento does not play.</source>
        <translation>%1 bir HLS yayını (parçalardan oluşan bir .m3u8); Orvento bunu çalmaz.</translation>
    </message>
</context>
<context>
    <name>orvento::StationReplay</name>
    <message>
        <source>That transmission is no longer kept.</source>
        <translation>Bu iletim artık saklanmıyor.</translation>
    </message>
    <message>
        <source>%1 s missed at %2</source>
        <translation>%2 itibarıyla %1 sn kaçırıldı</translation>
    </message>
    <message>
        <source>New stream format at %1</source>
        <translation>%1 itibarıyla yeni yayın biçimi</translation>
    </message>
    <message>
        <source>The transmission could not be played again: %1</source>
        <translation>İletim yeniden çalınamadı: %1</translation>
    </message>
</context>
<context>
    <name>orvento::TransmissionListModel</name>
    <message>
        <source>on air</source>
        <translation>yayında</translation>
    </message>
</context>
<context>
    <name>orvento::TransmissionSaver</name>
    <message>
        <source>Nothing was saved: the folder %1 cannot be made. Check that it can be written to.</source>
        <translation>Hiçbir şey kaydedilmedi: %1 klasörü oluşturulamıyor. Oraya yazılabildiğini denetleyin.</translation>
    </message>
    <message>
        <source>Nothing to save: the station has said nothing in that time.</source>
        <translation>Kaydedilecek bir şey yok: istasyon bu sürede hiç konuşmadı.</translation>
    </message>
    <message>
        <source>This station&apos;s audio cannot be saved as it came.</source>
        <translation>Bu istasyonun sesi geldiği biçimde kaydedilemez.</translation>
    </message>
    <message>
        <source>Nothing was saved: %1 cannot be written (%2). Check the folder.</source>
        <translation>Hiçbir şey kaydedilmedi: %1 yazılamıyor (%2). Klasörü denetleyin.</translation>
    </message>
    <message>
        <source>Saving stopped: %1 (%2). What was written so far is in %3.</source>
        <translation>Kayıt durdu: %1 (%2). O ana kadar yazılanlar: %3.</translation>
    </message>
    <message>
        <source>is the disk full?</source>
        <translation>disk dolu mu?</translation>
    </message>
    <message>
        <source>Saved to %1</source>
        <translation>Kaydedildi: %1</translation>
    </message>
    <message>
        <source>%1 Saved before that: %2</source>
        <translation>%1 Ondan önce kaydedilenler: %2</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>&amp;Favourites</source>
        <translation>&amp;Sık kullanılanlar</translation>
    </message>
    <message>
        <source>&amp;Recent</source>
        <translation>Son ça&amp;lınanlar</translation>
    </message>
    <message>
        <source>&amp;Sleep timer</source>
        <translation>&amp;Uyku zamanlayıcısı</translation>
    </message>
    <message>
        <source>&amp;Open Orvento</source>
        <translation>Orvento&apos;yu &amp;aç</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>Çı&amp;k</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Kapalı</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 dakika</translation>
    </message>
    <message>
        <source>&amp;Play</source>
        <translation>&amp;Çal</translation>
    </message>
    <message>
        <source>S&amp;top</source>
        <translation>&amp;Durdur</translation>
    </message>
</context>
<context>
    <name>orvento::NoticeRules</name>
    <message>
        <source>%1 is back</source>
        <translation>%1 geri geldi</translation>
    </message>
    <message>
        <source>The station plays again after %1 s without audio.</source>
        <translation>İstasyon %1 sn sessizlikten sonra yeniden çalıyor.</translation>
    </message>
    <message>
        <source>%1 stopped</source>
        <translation>%1 durdu</translation>
    </message>
    <message>
        <source>Recording of %1 stopped</source>
        <translation>%1 kaydı durdu</translation>
    </message>
    <message>
        <source>%1 is on the air</source>
        <translation>%1 yayında</translation>
    </message>
    <message>
        <source>A priority station of the monitor started a transmission.</source>
        <translation>İzlemedeki öncelikli bir istasyon iletime başladı.</translation>
    </message>
</context>
<context>
    <name>orvento::SleepTimer</name>
    <message>
        <source>Sleep after this transmission</source>
        <translation>Bu iletimden sonra uyku</translation>
    </message>
    <message>
        <source>Sleep in %1:%2</source>
        <translation>Uykuya %1:%2</translation>
    </message>
</context>
</TS>
