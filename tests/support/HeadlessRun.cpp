#include "HeadlessRun.h"

#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string ProgramPath(const std::string& program) {
  return std::string(TOVALINEX_BIN_DIR) + "/" + program;
}

static std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ScratchDirectory(const std::string& name) {
  const char* base = std::getenv("TMPDIR");
  std::string root =
      std::string(base && *base ? base : "/tmp") + "/tovalinex-tests-" + std::to_string(getpid());
  mkdir(root.c_str(), 0700);
  static int serial = 0;
  const std::string path = root + "/" + name + "-" + std::to_string(++serial);
  mkdir(path.c_str(), 0700);
  return path;
}

HeadlessRun RunHeadless(const std::string& program, const std::vector<std::string>& arguments) {
  const std::string scratch = ScratchDirectory("run");
  const std::string tracePath = scratch + "/trace.txt";
  const std::string errorPath = scratch + "/stderr.txt";
  std::string command = Quote(ProgramPath(program));
  for (const std::string& argument : arguments) command += " " + Quote(argument);
  command += " --trace " + Quote(tracePath) + " 2>" + Quote(errorPath);
  HeadlessRun run;
  const int status = std::system(command.c_str());
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::ifstream trace(tracePath);
  std::string line;
  while (std::getline(trace, line)) {
    std::istringstream fields(line);
    TextDraw draw;
    std::string hex;
    fields >> draw.frame >> draw.x >> draw.y >> hex;
    for (size_t index = 0; index + 1 < hex.size(); index += 2)
      draw.bytes += static_cast<char>(std::stoi(hex.substr(index, 2), nullptr, 16));
    run.draws.push_back(draw);
  }
  std::ifstream errors(errorPath);
  std::stringstream text;
  text << errors.rdbuf();
  run.errorOutput = text.str();
  return run;
}

std::vector<TextDraw> DrawsInFrame(const HeadlessRun& run, int frame) {
  std::vector<TextDraw> found;
  for (const TextDraw& draw : run.draws)
    if (draw.frame == frame) found.push_back(draw);
  return found;
}

std::vector<TextDraw> DrawsOf(const HeadlessRun& run, const std::string& bytes) {
  std::vector<TextDraw> found;
  for (const TextDraw& draw : run.draws)
    if (draw.bytes == bytes) found.push_back(draw);
  return found;
}

bool ReadPng(const std::string& path, Picture* picture) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return false;
  picture->width = static_cast<int>(image.width);
  picture->height = static_cast<int>(image.height);
  picture->pixels.resize(static_cast<size_t>(picture->width) * picture->height);
  for (size_t index = 0; index < picture->pixels.size(); ++index)
    picture->pixels[index] = static_cast<uint32_t>(rgb[index * 3]) << 16 |
                             static_cast<uint32_t>(rgb[index * 3 + 1]) << 8 | rgb[index * 3 + 2];
  return true;
}

Box InkBoxIn(const Picture& picture, int left, int top, int right, int bottom) {
  Box box = {right + 1, bottom + 1, left - 1, top - 1};
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x)
      if (picture.At(x, y) != 0xFFFFFF) {
        if (x < box.left) box.left = x;
        if (x > box.right) box.right = x;
        if (y < box.top) box.top = y;
        if (y > box.bottom) box.bottom = y;
      }
  return box;
}

Box InkBox(const Picture& picture) {
  return InkBoxIn(picture, 0, 0, picture.width - 1, picture.height - 1);
}
