// Start-up table and dispatch: which words reach which handler, what is answered as unknown, and
// how incoming bytes are cut into lines however they are delivered.
#include <cfloat>

#include "tavik/tavik.h"
#include "tests/captura.h"

namespace {

const Linies kDesconegut = {"Print Missatge desconegut!"};

TEST(Taula, OnlyWholeExactWordsMatch) {
  for (const char* paraula : {"info", "Rad", "RadarX", "", " Dead", "DEAD"}) {
    EXPECT_EQ(AgafaTipusMissatge(paraula), -1) << paraula;
  }
  EXPECT_EQ(AgafaTipusMissatge(std::string("Dead\0x", 6)), -1);
  EXPECT_EQ(AgafaTipusMissatge(std::string("Dead\0", 5)), -1);
}

TEST_F(Robot, UnknownWordsEmptyAndBlankLinesAreAnsweredOnce) {
  for (const char* linia : {"info 1 2 3", "Rad", "RadarX 1 0 1", "", "   ", "\t", "12 Dead"}) {
    EXPECT_EQ(Envia(linia), kDesconegut) << '"' << linia << '"';
  }
  EXPECT_EQ(Envia(std::string("Dead\0x", 6)), kDesconegut);
  EXPECT_TRUE(ordres.empty());
  EXPECT_EQ(robot.mode, MODE_IDLE);
}

TEST_F(Robot, WordsReachTheirHandlers) {
  EXPECT_EQ(Envia("   Dead"), Linies{"Print :'("});
  robot.energy = 9;
  EXPECT_EQ(Envia("GameStarts extra words 1 2"), Linies{});
  EXPECT_EQ(robot.energy, 0);
  EXPECT_EQ(Envia("Energy 7"), Linies{});
  EXPECT_EQ(robot.energy, 7);
  EXPECT_EQ(Envia("RobotInfo 80 1"), Linies{});
  EXPECT_EQ(robot.enemy_energy, 80);
  EXPECT_EQ(Envia("Initialize 1"), (Linies{"Name Tavik", "Colour 0xffffff 0xb0b0b0"}));
  EXPECT_EQ(Envia("ExitRobot"), Linies{});
  EXPECT_EQ(robot.exit_requested, 1);
}

TEST_F(Robot, DecimalCommasBecomePoints) {
  Envia("Info 12,5 1,0 0,25");
  EXPECT_EQ(robot.time, 12.5);
  EXPECT_EQ(robot.speed, 1.0);
  EXPECT_EQ(robot.cannon_angle, 0.25);
  Envia("GameOption 3 2,5");
  EXPECT_EQ(options[3], 2.5);
}

// --- Input chunking ---------------------------------------------------------------------------

void Rep(const std::string& s) {
  RepEntrada(s.data(), s.size());
}

TEST_F(Robot, LinesInOneChunkAreDispatchedInOrder) {
  Rep("Dead\nfoo\nInitialize 1\n");
  EXPECT_EQ(Capturades(), (Linies{"Print :'(", "Print Missatge desconegut!", "Name Tavik",
                                  "Colour 0xffffff 0xb0b0b0"}));
}

TEST_F(Robot, ALineArrivingInPiecesIsDispatchedOnceWhole) {
  const std::string linia = "GameOption 10 12,75\n";
  for (char c : linia) {
    Rep(std::string(1, c));
    if (c != '\n') {
      EXPECT_EQ(options[10], 0);
    }
  }
  EXPECT_EQ(options[10], 12.75);
  EXPECT_TRUE(Capturades().empty());
  Rep("De");
  Rep("ad\nDe");
  EXPECT_EQ(Capturades(), Linies{"Print :'("});
  Rep("ad\n");
  EXPECT_EQ(Capturades(), (Linies{"Print :'(", "Print :'("}));
}

TEST_F(Robot, AnUnterminatedLastLineWaitsForTheRealEnd) {
  Rep("Energy 4\nDead");
  EXPECT_EQ(robot.energy, 4);
  EXPECT_TRUE(Capturades().empty());
  TancaEntrada();
  EXPECT_EQ(Capturades(), Linies{"Print :'("});
  TancaEntrada();  // a second end of input finds nothing left
  EXPECT_EQ(Capturades().size(), 1u);
}

TEST_F(Robot, OverlongLinesAreAnsweredOnceAndSkipped) {
  // Exactly the limit is still a line.
  std::string limit = "Dead" + std::string(MAX_LINIA - 4, ' ') + "\n";
  Rep(limit);
  EXPECT_EQ(Capturades(), Linies{"Print :'("});
  Capturades().clear();

  // One byte more, delivered in many pieces, is one unknown message; the next line is intact.
  const std::string llarga = "Dead" + std::string(MAX_LINIA - 3, 'x');
  for (size_t i = 0; i < llarga.size(); i += 4096) Rep(llarga.substr(i, 4096));
  Rep("yyy\nEnergy 6\n");
  EXPECT_EQ(Capturades(), kDesconegut);
  EXPECT_EQ(robot.energy, 6);

  // Delivered at once with the line after it, only the overlong line is skipped.
  Capturades().clear();
  Rep(llarga + "\nEnergy 7\n");
  EXPECT_EQ(Capturades(), kDesconegut);
  EXPECT_EQ(robot.energy, 7);

  // An overlong tail at the end of input is not answered twice.
  Capturades().clear();
  Rep(llarga);
  TancaEntrada();
  Rep("Dead\n");
  EXPECT_EQ(Capturades(), (Linies{"Print Missatge desconegut!", "Print :'("}));
}

TEST_F(Robot, BinaryGarbageIsOneUnknownMessagePerLine) {
  const char brossa[] = "\x00\xff\xfe Dead\n\x80\x81,,,\n\x00\n";
  Rep(std::string(brossa, sizeof brossa - 1));
  EXPECT_EQ(Capturades(), (Linies{kDesconegut[0], kDesconegut[0], kDesconegut[0]}));
}

}  // namespace
