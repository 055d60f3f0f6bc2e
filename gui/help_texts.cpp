#include "gui/help_texts.h"

#include <QStringList>

#include "engine/version.h"

namespace vs32::gui {

QString AboutText() {
  return QStringLiteral(
      "Vesta-32 open source RX programm.\n"
      "Implement soft decoder with options of deep (list) decoding\n"
      "and various central rx frequency from 500Hz to 23kHz.\n"
      "\n"
      "Vs32Rx " VS32_VERSION " for Linux, built with Qt 6 and PortAudio.");
}

QString HelpText(bool russian) {
  // One line per menu topic, in menu order; each ends in a line break.
  static const char* const kEnglish[] = {
      "Capture Spectrum: save screenshot of waterfall with decoded signal\n",
      "Ignore Loran Lines: don't decode signal on freqs from file loran_lines.txt\n",
      "Use Freq List: always decode signal on freqs from file freq_list.txt\n",
      "Use Known Calls List: decode is true if callsign match with call from file callsloc.txt\n"
      "or this callsign was decoded twice (first decode saved in file known_list.txt)\n",
      "Deep Decoder: use list decoding with short list\n",
      "Ultra Deep Decoder: use list decoding with long list\n",
      "List Decoder: try the LIST_SIZE most likely whole messages, best first (more CPU)\n",
      "Use Correlator: decoder try to search matching with iformation vector of each known "
      "callsign\n",
      "Coherent Detector: use coherent (quadrature) or uncoherent amplitude detector\n",
      "Peak Number: number of spectral peaks for autofocus\n",
      "Peak Spacing: space between spectral peaks\n",
      "Upload Spots: upload spots to PSK-Reporter\n",
      "Decode WAV-file: decode signals from wav-file (12 ksps, 16 bps).\n",
  };
  static const char* const kRussian[] = {
      "Capture Spectrum: сохранять скриншот водопада с отметкой декодированного сигнала.\n",
      "Ignore Loran Lines: не декодировать сигнал на частотах из файла loran_lines.txt\n",
      "Use Freq List: всегда декодировать сигнал на частотах из файла freq_list.txt\n",
      "Use Known Calls List: декод будет считаться верным, если позывной имеется в списке "
      "callsloc.txt или known_list.txt\n"
      "Файл known_list.txt пополняется впервые принятыми позывными автоматически.\n",
      "Deep Decoder: использовать списочное декодирование с ограниченным списком.\n",
      "Ultra Deep Decoder: использовать списочное декодирование с расширенным списком.\n",
      "List Decoder: перебирать LIST_SIZE наиболее вероятных сообщений целиком, от лучшего.\n",
      "Use Correlator: декодер будет искать максимум совпадений с кодом известных позывных.\n",
      "Coherent Detector: использовать когерентный (квадратурный) или некогерентный амплитудный "
      "детектор\n",
      "Peak Number: количество обрабатываемых спектральных максимумов (помечаются на спектре "
      "зелеными полосками).\n",
      "Peak Spacing: минимальное расстояние между спектральными максимумами.\n",
      "Upload Spots: выгружать споты на PSK-Reporter.\n",
      "Decode WAV-file: обработать звуковой файл (формат 12 кГц, 16 бит).\n",
  };
  QString text;
  for (const char* line : russian ? kRussian : kEnglish) text += QString::fromUtf8(line);
  return text;
}

}  // namespace vs32::gui
